#include "btnpesquisa.h"

#include "maskedit.h"
#include "routines.h"

#include "client/clientdataset.h"
#include "client/hostapi.h"

#include <QStyle>

namespace host {

TBtnPesquisa::TBtnPesquisa(const QString& objectName, QWidget* parent)
    : TSpeedButton(objectName, parent, QStringLiteral("Pesquisar"))
{
    setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    // The click runs the handler when one is set, else the built-in lookup.
    disconnect(this, &QToolButton::clicked, this, nullptr);
    connect(this, &QToolButton::clicked, this, [this] {
        if (onClick)
            core::dispatch(onClick);
        else
            core::dispatch([this] { Pesquisa(); });
    });
}

bool TBtnPesquisa::Pesquisa()
{
    bool cont = true;
    if (onBeforePesq)
        onBeforePesq(cont);
    if (!cont)
        return false;
    if (!dataSource || !dataSource->dataSet())
        throw core::Error(QStringLiteral("Pesquisa \"%1\" sem fonte de dados.").arg(title));
    if (!Pesquisar(dataSource, title + u'|' + emptyError))
        return false;
    core::ClientDataset* ds = dataSource->dataSet();
    if (ds->fieldCount() > 0) {
        const QString key = ds->field(0).asString();
        if (auto* me = qobject_cast<TMaskEdit*>(edit.data()))
            me->setText(key);
        else if (auto* le = qobject_cast<QLineEdit*>(edit.data()))
            le->setText(key);
    }
    if (onAfterPesq)
        onAfterPesq();
    return true;
}

} // namespace host
