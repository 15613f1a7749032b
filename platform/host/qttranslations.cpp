#include "qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace host {

bool installQtTranslations(QCoreApplication& app)
{
    auto* t = new QTranslator(&app);
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!t->load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qt"), QStringLiteral("_"), dir)) {
        delete t;
        return false;
    }
    return QCoreApplication::installTranslator(t);
}

} // namespace host
