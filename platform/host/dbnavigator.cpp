#include "dbnavigator.h"

#include "hostglobals.h"

#include "client/hostapi.h"

#include <QHBoxLayout>
#include <QStyle>

namespace host {

TDBNavigator::TDBNavigator(const QString& objectName, QWidget* parent) : QWidget(parent)
{
    setObjectName(objectName);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    auto make = [&](const char* name, QStyle::StandardPixmap icon, const char* tip, int how) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(QString::fromUtf8(tip));
        b->setAutoRaise(false);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(Px(24), Px(22));
        connect(b, &QToolButton::clicked, this, [this, how] { move(how); });
        lay->addWidget(b);
        return b;
    };
    btnFirst = make("btnFirst", QStyle::SP_MediaSkipBackward, "Primeiro", 0);
    btnPrior = make("btnPrior", QStyle::SP_MediaSeekBackward, "Anterior", 1);
    btnNext = make("btnNext", QStyle::SP_MediaSeekForward, "Próximo", 2);
    btnLast = make("btnLast", QStyle::SP_MediaSkipForward, "Último", 3);
    refresh();
}

void TDBNavigator::setDataSource(core::DataSource* ds)
{
    if (source_)
        disconnect(source_, nullptr, this, nullptr);
    source_ = ds;
    if (ds)
        connect(ds, &core::DataSource::dataSetChanged, this, &TDBNavigator::bind);
    bind();
}

void TDBNavigator::bind()
{
    for (const auto& c : conns_)
        disconnect(c);
    conns_.clear();
    bound_ = source_ ? source_->dataSet() : nullptr;
    if (bound_) {
        conns_ << connect(bound_, &core::ClientDataset::currentChanged, this, &TDBNavigator::refresh);
        conns_ << connect(bound_, &core::ClientDataset::dataChanged, this, &TDBNavigator::refresh);
        conns_ << connect(bound_, &core::ClientDataset::stateChanged, this, &TDBNavigator::refresh);
    }
    refresh();
}

void TDBNavigator::refresh()
{
    const bool has = bound_ && bound_->active() && !bound_->isEmpty();
    const int row = has ? bound_->recNo() : -1;
    const int last = has ? bound_->recordCount() - 1 : -1;
    btnFirst->setEnabled(has && row > 0);
    btnPrior->setEnabled(has && row > 0);
    btnNext->setEnabled(has && row < last);
    btnLast->setEnabled(has && row < last);
}

void TDBNavigator::move(int how)
{
    if (!bound_)
        return;
    core::dispatch([&] {
        switch (how) {
        case 0: bound_->first(); break;
        case 1: bound_->prior(); break;
        case 2: bound_->next(); break;
        default: bound_->last(); break;
        }
    });
    refresh();
}

} // namespace host
