#include "animationoverlay.h"

#include "hostglobals.h"

#include "client/interruption.h"

#include <QEvent>
#include <QPainter>
#include <QPushButton>

namespace host {

AnimationOverlay::AnimationOverlay(QWidget* window, int kind, const QString& caption)
    : QWidget(window), caption_(caption)
{
    setObjectName(QStringLiteral("aviShowAvi"));
    if (caption_.isEmpty())
        caption_ = kind == 1 ? QStringLiteral("Processando...") : QStringLiteral("Aguarde...");
    const int w = std::max(Px(220), fontMetrics().horizontalAdvance(caption_) + Px(32));
    // A call the operator may stop offers the button that stops it; one
    // that runs to its end once sent shows it disabled, saying why.
    const core::interruption::Offer offer = core::interruption::offer();
    if (offer.kind == core::interruption::Offer::Kind::None) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        resize(w, Px(64));
    } else {
        stop_ = new QPushButton(QStringLiteral("Interromper"), this);
        stop_->setObjectName(QStringLiteral("btnInterromper"));
        stop_->setFocusPolicy(Qt::NoFocus);
        if (offer.kind == core::interruption::Offer::Kind::Stop) {
            stop_->setToolTip(QStringLiteral("Interrompe a carga; a lista anterior continua como estava."));
            connect(stop_, &QPushButton::clicked, this, [this] {
                if (core::interruption::request()) {
                    stop_->setEnabled(false);
                    stop_->setText(QStringLiteral("Interrompendo..."));
                }
            });
        } else {
            stop_->setEnabled(false);
            stop_->setToolTip(offer.why);
        }
        core::interruption::allowInput(stop_);
        resize(w, Px(100));
        stop_->resize(std::max(stop_->sizeHint().width(), Px(110)), stop_->sizeHint().height());
        stop_->move((width() - stop_->width()) / 2, height() - stop_->height() - Px(8));
    }
    reposition();
    timer_.setInterval(40);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 100;
        update();
    });
    timer_.start();
    window->installEventFilter(this);
    show();
    raise();
}

bool AnimationOverlay::eventFilter(QObject* o, QEvent* e)
{
    if (e->type() == QEvent::Resize)
        reposition();
    return QWidget::eventFilter(o, e);
}

void AnimationOverlay::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(palette().color(QPalette::Mid));
    p.setBrush(palette().color(QPalette::Window));
    p.drawRoundedRect(r, 6, 6);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, Px(8), width(), Px(22)), Qt::AlignCenter, caption_);
    // A block sweeping back and forth along a track.
    const QRect track(Px(16), Px(40), width() - Px(32), Px(10));
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Midlight));
    p.drawRoundedRect(track, 4, 4);
    const int block = track.width() / 4;
    const int pos = step_ < 50 ? step_ : 100 - step_;
    p.setBrush(palette().color(QPalette::Highlight));
    p.drawRoundedRect(QRect(track.x() + (track.width() - block) * pos / 50, track.y(), block, track.height()), 4, 4);
}

void AnimationOverlay::reposition()
{
    if (QWidget* w = parentWidget())
        move((w->width() - width()) / 2, (w->height() - height()) / 2);
}

} // namespace host
