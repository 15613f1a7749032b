#pragma once
// Flat tool button of the host's tool bars and lookups.

#include "controlhelpers.h"

#include <QToolButton>

namespace host {

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

} // namespace host
