#pragma once
// A window that shows an operator's guide written in Markdown, with its
// images, beside the screens (not modal: the operator reads and works).

#include <QString>

class QWidget;

namespace host {

/// Shows the guide at `url` (a "qrc:" or file URL of a .md file; images are
/// found relative to it) in the one guide window, object name "frmGuia",
/// creating it on first use and bringing it to the front after. Throws
/// core::Error when the guide is not there.
QWidget* showGuide(const QString& url, const QString& title);

} // namespace host
