#pragma once
// The host's controls: flat tool buttons, panels and edits with enter/exit
// handlers, masked edits in the platform's mask notation, radio buttons
// whose click handler also runs when checked by code, group boxes, and the
// data-aware label and navigator. Every handler runs through core::dispatch.

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QToolButton>

#include "client/clientdataset.h"
#include "core/variant.h"

#include <functional>

namespace core {
class ClientDataset;
class DataSource;
} // namespace core

namespace host {

using Handler = std::function<void()>;

/// Enables or disables every control directly inside `container` (their own
/// children follow them, as Qt's enabled state is inherited).
void SetChildEnabled(QWidget* container, bool enabled);

/// Runs `onEnter` when the focus moves into `watched` or one of its children
/// from outside, and `onExit` when it leaves them for a widget outside.
/// Focus moving into a modal box or a popup is not leaving: exit runs when
/// the focus lands on another widget of the window. Owned by `watched`.
class FocusTracker : public QObject {
    Q_OBJECT
public:
    explicit FocusTracker(QWidget* watched);
    Handler onEnter;
    Handler onExit;
    bool hasFocusInside() const { return inside_; }

private:
    void focusChanged(QWidget* old, QWidget* now);
    QWidget* watched_;
    bool inside_ = false;
};

/// Flat tool button with a hint (tool tip).
class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    explicit TSpeedButton(const QString& objectName, QWidget* parent = nullptr, const QString& hint = {});
    void setHint(const QString& h) { setToolTip(h); }
    /// Click handler, run through core::dispatch.
    Handler onClick;
    /// Runs the click as the user would (nothing when disabled).
    void Click();
};

/// Panel (a container frame) with enter/exit handlers.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(const QString& objectName, QWidget* parent = nullptr);
    Handler onEnter;
    Handler onExit;
};

/// Plain edit with enter/exit and change handlers.
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEdit(const QString& objectName, QWidget* parent = nullptr);
    Handler onEnter;
    Handler onExit;
    /// Runs when the text changes, by the user or by code.
    Handler onChange;
    /// The information-tip background colour used for input edits.
    void setInfoBackground(bool on = true);
};

/// Masked edit taking the platform's mask notation "mask;store;blank":
///   "9" optional digit, "0" required digit, "#" optional digit or sign,
///   "L"/"l" letter required/optional, "A"/"a" letter or digit required/optional,
///   "C"/"c" any character required/optional, ">" "<" case, "\x" literal x,
///   any other character a literal; ";0" literals are not stored (";1" they
///   are); the last part is the blank placeholder.
/// text() returns the stored text: without blanks, and without literals
/// when they are not stored. setText() accepts the stored form.
class TMaskEdit : public TEdit {
    Q_OBJECT
public:
    explicit TMaskEdit(const QString& objectName, QWidget* parent = nullptr, const QString& editMask = {});
    void setEditMask(const QString& platformMask);
    const QString& editMask() const { return mask_; }
    /// The Qt input mask equivalent of a platform mask.
    static QString toQtInputMask(const QString& platformMask);

    QString text() const;
    void setText(const QString& stored);

private:
    QString mask_;
    bool storeLiterals_ = false;
};

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

/// Lookup button bound to an associated control and a data source. A click
/// runs onBeforePesq (which may clear `continue`), then the pick dialog
/// (core::host().pickRow) over the data source's dataset with `title` and
/// `emptyError`; when a row was chosen the associated control, if it is an
/// edit, receives the first field of the chosen row, then onAfterPesq runs.
/// When onClick is set it replaces that whole sequence.
class TBtnPesquisa : public TSpeedButton {
    Q_OBJECT
public:
    explicit TBtnPesquisa(const QString& objectName, QWidget* parent = nullptr);
    QPointer<QWidget> edit;               ///< associated control
    QString title;
    QString emptyError;
    QPointer<core::DataSource> dataSource;
    std::function<void(bool& continuePesq)> onBeforePesq;
    Handler onAfterPesq;

    /// The built-in lookup (what a click runs when onClick is not set);
    /// true when a row was chosen. Exceptions propagate.
    bool Pesquisa();
};

/// Radio button whose click handler runs when the user clicks it and also
/// when code checks it (setChecked(true) on an unchecked button).
class TRadioButton : public QRadioButton {
    Q_OBJECT
public:
    TRadioButton(const QString& objectName, const QString& caption, QWidget* parent = nullptr);
    Handler onClick;
};

/// Group box; its enabled state governs every control inside.
class TGroupBox : public QGroupBox {
    Q_OBJECT
public:
    TGroupBox(const QString& objectName, const QString& caption, QWidget* parent = nullptr);
};

/// Label showing one field of a data source's current row.
class TDBText : public QLabel {
    Q_OBJECT
public:
    explicit TDBText(const QString& objectName, QWidget* parent = nullptr);
    void setDataSource(core::DataSource* ds, const QString& fieldName);
    core::DataSource* dataSource() const { return source_; }
    const QString& dataField() const { return field_; }
    /// Re-reads the field (also done on every move, load and state change).
    void refresh();

private:
    void bind();
    QPointer<core::DataSource> source_;
    QPointer<core::ClientDataset> bound_;
    QList<QMetaObject::Connection> conns_;
    QString field_;
};

/// Navigator: first, prior, next and last over a data source's dataset.
/// Buttons are named "btnFirst", "btnPrior", "btnNext", "btnLast".
class TDBNavigator : public QWidget {
    Q_OBJECT
public:
    explicit TDBNavigator(const QString& objectName, QWidget* parent = nullptr);
    void setDataSource(core::DataSource* ds);
    core::DataSource* dataSource() const { return source_; }
    QToolButton* btnFirst;
    QToolButton* btnPrior;
    QToolButton* btnNext;
    QToolButton* btnLast;
    void refresh();

private:
    void bind();
    void move(int how);
    QPointer<core::DataSource> source_;
    QPointer<core::ClientDataset> bound_;
    QList<QMetaObject::Connection> conns_;
};

} // namespace host
