#include "guideviewer.h"

#include "hostglobals.h"

#include "core/errors.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace host {

QWidget* showGuide(const QString& url, const QString& title)
{
    const QUrl source(url);
    const QString local =
        source.scheme() == QLatin1String("qrc") ? QLatin1Char(':') + source.path() : source.toLocalFile();
    if (!QFile::exists(local))
        throw core::Error(QStringLiteral("O guia do operador não está instalado (%1).").arg(url));

    static QPointer<QDialog> window;
    if (!window) {
        window = new QDialog(nullptr, Qt::Window);
        window->setObjectName(QStringLiteral("frmGuia"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        auto* lay = new QVBoxLayout(window);
        auto* text = new QTextBrowser(window);
        text->setObjectName(QStringLiteral("txbGuia"));
        text->setOpenExternalLinks(true);
        lay->addWidget(text, 1);
        auto* box = new QDialogButtonBox(QDialogButtonBox::Close, window);
        QObject::connect(box, &QDialogButtonBox::rejected, window, &QDialog::close);
        lay->addWidget(box);
        window->resize(Px(760), Px(620));
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, window, &QObject::deleteLater);
    }
    window->setWindowTitle(title);
    auto* text = window->findChild<QTextBrowser*>(QStringLiteral("txbGuia"));
    if (text->source() != source)
        text->setSource(source, QTextDocument::MarkdownResource);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace host
