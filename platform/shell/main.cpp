// exp_shell: the host application. Options in README.md ("Shell options").

#include "screenshot.h"
#include "shellconfig.h"
#include "shellwindow.h"

#include "host/glyphs.h"
#include "host/qttranslations.h"

#include "core/netconnection.h"
#include "core/session.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLocale>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QApplication::setApplicationName(QStringLiteral("exp_shell"));
    host::installQtTranslations(app);

    QStringList args = QApplication::arguments();
    args.removeFirst();
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(qPrintable(shell::usage()), stdout);
        return 0;
    }
    shell::ShellConfig config;
    const QString error = config.applyArguments(args);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n\n%s", qPrintable(error), qPrintable(shell::usage()));
        return 2;
    }
    if (QStyle* s = QStyleFactory::create(config.styleName))
        QApplication::setStyle(s);
    // The screens' sizes were designed for a narrow 8-point sans serif: a
    // condensed face keeps their texts inside their columns and edits, and
    // stands in for that face where a screen names it.
    QFont font = QApplication::font();
    if (QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Condensed")))
        font.setFamily(QStringLiteral("DejaVu Sans Condensed"));
    font.setPointSize(8);
    QApplication::setFont(font);
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), font.family());
    QApplication::setWindowIcon(host::glyphs::icon(host::glyphs::Glyph::App));

    shell::ShellWindow window(config);
    window.show();
    // Logging out when the shell ends frees the session at once.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&config] {
        core::logout(core::defaultTransport(), config.serverHost, config.serverPort);
    });
    QTimer::singleShot(0, &window, [&] {
        // Scheduled first: a box shown while opening runs its own event loop,
        // and the capture must still happen then.
        if (!config.screenshot.isEmpty())
            shell::scheduleScreenshot(window, config.screenshot, config.screenshotTimeoutMs);
        if (!window.login()) {
            QApplication::exit(1);
            return;
        }
        window.openHostDatabase();
        if (!config.module.isEmpty())
            window.openModule(config.module);
    });
    return app.exec();
}
