#pragma once
// The host's plain edit: enter/exit and change handlers, the information
// background of input edits.

#include "controlhelpers.h"

#include <QLineEdit>

namespace host {

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

} // namespace host
