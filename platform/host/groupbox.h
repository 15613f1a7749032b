#pragma once
// Group box of the host's screens.

#include <QGroupBox>

namespace host {

/// Group box; its enabled state governs every control inside.
class TGroupBox : public QGroupBox {
    Q_OBJECT
public:
    TGroupBox(const QString& objectName, const QString& caption, QWidget* parent = nullptr);
};

} // namespace host
