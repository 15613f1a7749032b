// exp_shell: the host application. Options in README.md ("Shell options").

#include "screenshot.h"
#include "shellconfig.h"
#include "shellwindow.h"

#include "host/glyphs.h"
#include "host/qttranslations.h"

#include "client/netconnection.h"
#include "client/session.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLocale>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

bool hasArgument(int argc, char** argv, const char* name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

// Whether the window would need a display that is not there: Qt would end
// with its own English message, so the shell says it first, in Portuguese.
bool displayMissing(int argc, char** argv)
{
    if (hasArgument(argc, argv, "-platform"))
        return false;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool windowed = platform.isEmpty() || platform.startsWith("xcb") || platform.startsWith("wayland");
    return windowed && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv)
{
    // Answered before any window system is touched: works without a display.
    if (hasArgument(argc, argv, "--help") || hasArgument(argc, argv, "-h")) {
        std::fputs(shell::usage().toUtf8().constData(), stdout);
        return 0;
    }
    if (displayMissing(argc, argv)) {
        if (hasArgument(argc, argv, "--screenshot")) {
            // A screenshot needs no screen: draw off-screen.
            qputenv("QT_QPA_PLATFORM", "offscreen");
        } else {
            std::fputs("exp_shell: não há tela (as variáveis DISPLAY e WAYLAND_DISPLAY estão vazias).\n"
                       "A janela do sistema precisa de uma: rode numa sessão gráfica (ou por ssh -X).\n"
                       "Para gravar uma imagem da tela sem ela: ./run.sh --screenshot ARQUIVO.png\n"
                       "(ou exp_shell com a opção --screenshot ARQUIVO.png).\n",
                       stderr);
            return 1;
        }
    }

    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QApplication::setApplicationName(QStringLiteral("exp_shell"));
    host::installQtTranslations(app);

    QStringList args = QApplication::arguments();
    args.removeFirst();
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
    QObject::connect(&app, &QCoreApplication::aboutToQuit,
                     [&config] { core::logout(core::defaultTransport(), config.serverHost, config.serverPort); });
    QTimer::singleShot(0, &window, [&] {
        // Scheduled first: a box shown while opening runs its own event loop,
        // and the capture must still happen then.
        if (!config.screenshot.isEmpty())
            shell::scheduleScreenshot(window, config.screenshot, config.screenshotTimeoutMs, config.screenshotPage);
        // The host database first: the login names the operator's branches from it.
        window.openHostDatabase();
        if (!window.login()) {
            QApplication::exit(1);
            return;
        }
        if (!config.module.isEmpty())
            window.openModule(config.module);
    });
    return app.exec();
}
