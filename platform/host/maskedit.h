#pragma once
// Edit with an input mask written in the platform's mask notation.

#include "edit.h"

namespace host {

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

} // namespace host
