#pragma once
// Qt's own texts (standard buttons, the context menus of edits, the file,
// print and colour dialogs) in Brazilian Portuguese, from the translations
// Debian installs with Qt (qt6-translations-l10n).

class QCoreApplication;

namespace host {

/// Loads and installs Qt's Brazilian Portuguese translations ("qt_pt_BR",
/// which pulls in qtbase_pt_BR) from Qt's translations folder; the
/// translator lives as long as `app`. Returns false, leaving Qt's English,
/// when they are not installed.
bool installQtTranslations(QCoreApplication& app);

} // namespace host
