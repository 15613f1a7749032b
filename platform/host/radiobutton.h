#pragma once
// Radio button whose click handler also runs when code checks it.

#include "controlhelpers.h"

#include <QRadioButton>

namespace host {

/// Radio button whose click handler runs when the user clicks it and also
/// when code checks it (setChecked(true) on an unchecked button).
class TRadioButton : public QRadioButton {
    Q_OBJECT
public:
    TRadioButton(const QString& objectName, const QString& caption, QWidget* parent = nullptr);
    Handler onClick;
};

} // namespace host
