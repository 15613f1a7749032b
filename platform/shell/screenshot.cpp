#include "screenshot.h"

#include "shellwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTabBar>
#include <QTabWidget>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace shell {

bool saveWindowImage(ShellWindow& window, const QString& file)
{
    QPixmap shot = window.grab();
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &window) {
        // A box waiting over the window is part of what the user sees.
        const QPixmap box = modal->grab();
        QPainter p(&shot);
        const QPoint at = window.mapFromGlobal(modal->mapToGlobal(QPoint(0, 0)));
        const QRect r(at, box.size());
        const QPoint place =
            shot.rect().contains(r) ? at : QPoint((shot.width() - box.width()) / 2, (shot.height() - box.height()) / 2);
        p.setPen(QColor(80, 80, 80));
        p.drawRect(QRect(place, box.size()).adjusted(-1, -1, 0, 0));
        p.drawPixmap(place, box);
    }
    return shot.save(file, "PNG");
}

void scheduleScreenshot(ShellWindow& window, const QString& file, int timeoutMs, int page)
{
    auto pageShown = std::make_shared<bool>(page < 1);
    auto* timer = new QTimer(&window);
    auto* clock = new QElapsedTimer;
    clock->start();
    auto quiet = std::make_shared<int>(0);
    auto modalSince = std::make_shared<qint64>(-1);
    timer->setInterval(100);
    QObject::connect(
        timer, &QTimer::timeout, &window, [&window, file, timeoutMs, timer, clock, quiet, modalSince, page, pageShown] {
            const qint64 now = clock->elapsed();
            const bool modal = QApplication::activeModalWidget() != nullptr;
            if (modal && *modalSince < 0)
                *modalSince = now;
            if (!modal)
                *modalSince = -1;
            *quiet = window.idle() ? *quiet + 1 : 0;
            // Logging in may take longer than the first quiet moment (the
            // password check is slow by design): the screen opens after it.
            const bool settled = now > 500 && *quiet >= 5 && window.loggedIn();
            const bool boxWaiting = modal && now - *modalSince > 1000;
            if (!settled && !boxWaiting && now < timeoutMs)
                return;
            if (settled && !*pageShown) {
                // The page's tab chosen as a click would, once the screen is
                // open, then settled again.
                QMdiSubWindow* sub = window.area()->activeSubWindow();
                QTabWidget* pages = sub ? sub->findChild<QTabWidget*>() : nullptr;
                if (!pages && now < timeoutMs)
                    return;
                *pageShown = true;
                if (pages && page <= pages->count()) {
                    pages->tabBar()->setCurrentIndex(page - 1);
                    *quiet = 0;
                    return;
                }
            }
            timer->stop();
            delete clock;
            const bool ok = saveWindowImage(window, file);
            std::fprintf(stderr, "%s %s\n", ok ? "screenshot saved:" : "screenshot NOT saved:", qPrintable(file));
            std::fflush(stderr);
            if (modal) {
                // A nested event loop (the box) is running module code below us:
                // leave at once instead of unwinding into it.
                ::_exit(ok ? 0 : 1);
            }
            QApplication::exit(ok ? 0 : 1);
        });
    timer->start();
}

} // namespace shell
