#include "dbtext.h"

namespace host {

TDBText::TDBText(const QString& objectName, QWidget* parent) : QLabel(parent)
{
    setObjectName(objectName);
}

void TDBText::setDataSource(core::DataSource* ds, const QString& fieldName)
{
    if (source_)
        disconnect(source_, nullptr, this, nullptr);
    source_ = ds;
    field_ = fieldName;
    if (ds)
        connect(ds, &core::DataSource::dataSetChanged, this, &TDBText::bind);
    bind();
}

void TDBText::bind()
{
    for (const auto& c : conns_)
        disconnect(c);
    conns_.clear();
    bound_ = source_ ? source_->dataSet() : nullptr;
    if (bound_) {
        conns_ << connect(bound_, &core::ClientDataset::currentChanged, this, &TDBText::refresh);
        conns_ << connect(bound_, &core::ClientDataset::dataChanged, this, &TDBText::refresh);
        conns_ << connect(bound_, &core::ClientDataset::stateChanged, this, &TDBText::refresh);
    }
    refresh();
}

void TDBText::refresh()
{
    QString t;
    if (bound_ && bound_->active() && !bound_->isEmpty()) {
        if (core::Field* f = bound_->findField(field_)) {
            try {
                t = f->displayText();
            } catch (...) {
                t.clear();
            }
        }
    }
    setText(t);
}

} // namespace host
