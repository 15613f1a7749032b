#pragma once
// Container frame with enter/exit handlers.

#include "controlhelpers.h"

#include <QFrame>

namespace host {

/// Panel (a container frame) with enter/exit handlers.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(const QString& objectName, QWidget* parent = nullptr);
    Handler onEnter;
    Handler onExit;
};

} // namespace host
