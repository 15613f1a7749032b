#include "routines.h"

#include "dbgrid.h"

#include "client/adoibquery.h"
#include "client/clientdataset.h"
#include "core/errors.h"
#include "client/hostapi.h"
#include "client/hostservices.h"

#include <QRegularExpression>
#include <QStringList>

namespace host {

void ensureOpen(core::ClientDataset& ds)
{
    if (ds.active())
        return;
    if (auto* q = qobject_cast<core::TADOIBQuery*>(&ds))
        q->Open();
}

bool Pesquisar(core::DataSource* ds, const QString& titleAndEmpty, bool, bool)
{
    if (!ds || !ds->dataSet())
        throw core::Error(QStringLiteral("Pesquisa sem fonte de dados."));
    const qsizetype bar = titleAndEmpty.indexOf(u'|');
    const QString title = bar < 0 ? titleAndEmpty : titleAndEmpty.left(bar);
    QString empty = bar < 0 ? QString() : titleAndEmpty.mid(bar + 1);
    if (empty.trimmed().isEmpty())
        empty = QStringLiteral("Não há registros para pesquisar.");
    ensureOpen(*ds->dataSet());
    return core::host().pickRow(*ds->dataSet(), title, empty);
}

bool PesquisaLista(core::DataSource* ds, const QString& keyField, const QString& title, bool, QString& result)
{
    if (!ds || !ds->dataSet())
        throw core::Error(QStringLiteral("Pesquisa sem fonte de dados."));
    core::ClientDataset& set = *ds->dataSet();
    ensureOpen(set);
    set.fieldByName(keyField); // an unknown key field is reported before any dialog
    return core::host().pickRows(set, keyField, title, result);
}

void Procura(core::ClientDataset* ds)
{
    if (!ds || !ds->active())
        return;
    core::host().find(*ds);
}

void Procura(DBGrid* grid)
{
    core::ClientDataset* ds = grid ? grid->dataSet() : nullptr;
    if (!ds || !ds->active())
        return;
    core::FindSearch& search = grid->lastSearch();
    search.columns = grid->findColumns();
    core::host().find(*ds, search);
}

bool ProcuraProximo(DBGrid* grid)
{
    core::ClientDataset* ds = grid ? grid->dataSet() : nullptr;
    if (!ds || !ds->active())
        return false;
    core::FindSearch& search = grid->lastSearch();
    if (!search.isSet()) {
        const int before = ds->recNo();
        Procura(grid);
        return ds->recNo() != before;
    }
    const int row = core::findRow(*ds, search.fieldName, search.text, ds->recNo() + 1);
    if (row < 0) {
        core::MensInfo(QStringLiteral("\"%1\" não foi encontrado.").arg(search.text));
        return false;
    }
    ds->moveTo(row);
    return true;
}

QString joinListString(const QStringList& keys)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9 ._/-]*$"));
    QStringList quoted;
    quoted.reserve(keys.size());
    for (const QString& k : keys) {
        if (!allowed.match(k).hasMatch())
            throw core::Error(QStringLiteral("A chave \"%1\" tem caracteres que a lista não admite.").arg(k));
        quoted << u'\'' + k + u'\'';
    }
    return quoted.join(u',');
}

} // namespace host
