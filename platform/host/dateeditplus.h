#pragma once
// Date edit with the weekday shown beside the date.

#include "edit.h"

#include "core/variant.h"

namespace host {

/// Date edit: dd/mm/yyyy, blank allowed, the weekday name in pt-BR shown
/// beside the date ("Domingo" ... "Sábado"), valid dates drawn in blue, time
/// of day never kept.
class TDateEditPlus : public TEdit {
    Q_OBJECT
public:
    explicit TDateEditPlus(const QString& objectName, QWidget* parent = nullptr);

    /// The date typed; Date{0} when blank. Text that is not a date shows
    /// "\"<text>\" não é uma data válida." in the error box and aborts.
    core::Date GetDate() const;
    void SetDate(core::Date d);
    /// Blank is valid; text that is not a date is reported as by GetDate
    /// (error box, abort) after moving the focus to the edit.
    void CheckValidDate();

    /// "" when no digit was typed, else the text as shown ("05/03/2024").
    QString text() const;
    void setText(const QString& t);
    bool isBlank() const;
    /// True when the text is blank or a real date.
    bool isValidText() const;
    /// pt-BR weekday name of the date shown, empty when blank or invalid.
    QString weekdayName() const;

protected:
    void paintEvent(QPaintEvent* e) override;
};

} // namespace host
