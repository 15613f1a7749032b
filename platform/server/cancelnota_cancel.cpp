// The two cancellations: the ticked entries of a list, and the ticked items
// of one entry. Each runs in one transaction and changes nothing when refused.
#include "cancelnota_shared.h"

#include "picklist.h"

#include <QSqlQuery>

#include <set>

namespace server::cancelnota {

using core::FieldType;
using core::Variant;

namespace {

void execKeyed(QSqlDatabase& conn, const QString& sql, const QStringList& values)
{
    QSqlQuery q = prepare(conn, sql);
    for (const QString& v : values)
        q.addBindValue(v);
    exec(q);
}

// Cancels the entry's remaining parts: items, stock movements, replicas and accounts.
void cancelEntryParts(QSqlDatabase& conn, const QString& branch, const QString& entry, const QString& nrLancEstq)
{
    execKeyed(conn,
              "UPDATE ITLANCTONF SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDCANCELADO = 'N'",
              {branch, entry});
    execKeyed(conn,
              "UPDATE ITLANCTOEST SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCESTQ = ? AND IDCANCELADO = 'N'",
              {branch, nrLancEstq});
    execKeyed(conn,
              "UPDATE DOCREPLIC SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDCANCELADO = 'N'",
              {branch, entry});
    execKeyed(conn, "DELETE FROM CONTAGERADA WHERE CDFILIAL = ? AND NRLANCTONF = ?", {branch, entry});
}

void setEntryCancelled(QSqlDatabase& conn, const QString& branch, const QString& entry, qint64 version, bool cancelled)
{
    QSqlQuery q = prepare(conn,
                          QString("UPDATE LANCTONF SET %1 NRVERSAO = NRVERSAO + 1 WHERE CDFILIAL = ? AND "
                                  "NRLANCTONF = ? AND NRVERSAO = ? AND IDSTATUS = 'P'")
                              .arg(cancelled ? "IDSTATUS = 'C'," : ""));
    q.addBindValue(branch);
    q.addBindValue(entry);
    q.addBindValue(version);
    exec(q);
    if (q.numRowsAffected() != 1) // the rows are locked: only a broken invariant gets here
        throw InternalError(QString("O lançamento %1/%2 mudou durante o cancelamento.").arg(branch, entry));
}

// True when a quantity sent back by a client is the very value this server
// sends for the stored quantity (the double nearest to it, as the packets
// carry it): an unchanged item returns it unchanged and no tolerance applies.
bool sameQuantity(Quantity stored, const Variant& sent)
{
    if (sent.type() != Variant::Type::Double && sent.type() != Variant::Type::Integer)
        return false;
    return sent.toDouble() == stored.toDouble();
}

// Every ticked item of the packet must be the stored item of its number:
// same product, same quantity. A packet holding another entry's items (a
// client that kept the previous entry's list under a new current entry)
// would otherwise cancel this entry's items that happen to share numbers.
void checkTickedItemsAreStored(const Database& db, QSqlDatabase& conn, const QString& branch, const QString& entry,
                               const core::DataPacket& items, const QStringList& seqs)
{
    const int iCheck = requiredField(items, "IDCHECK", "itens");
    const int iSeq = requiredField(items, "NRSEQITPROD", "itens");
    const int iProd = requiredField(items, "CDPRODUTO", "itens");
    const int iQty = requiredField(items, "QTITEMPROD", "itens");
    QSqlQuery q = prepare(conn,
                          QString("SELECT NRSEQITPROD, CDPRODUTO, %1 FROM ITLANCTONF WHERE CDFILIAL = ? "
                                  "AND NRLANCTONF = ? AND NRSEQITPROD IN (%2)")
                              .arg(qtyUnitsSql(db, "QTITEMPROD"), marks(seqs.size())));
    q.addBindValue(branch);
    q.addBindValue(entry);
    for (const QString& sq : seqs)
        q.addBindValue(sq);
    exec(q);
    std::map<QString, std::pair<QString, Quantity>> stored;
    while (q.next())
        stored[q.value(0).toString()] = {q.value(1).toString(), quantityAt(q, 2)};
    for (const auto& row : items.rows()) {
        if (cellText(row, iCheck) != "S")
            continue;
        const auto s = stored.find(cellText(row, iSeq));
        if (s == stored.end() || s->second.first != cellText(row, iProd)
            || !sameQuantity(s->second.second, row.at(size_t(iQty))))
            throw core::ServerError("NOTA_ALT");
    }
}

} // namespace

Variant cancelaNota(CallContext& c)
{
    const QString branch = c.str(0);
    const core::DataPacket& list = *c.packet(1);
    const QString branchInUse = c.str(2), operatorCode = c.str(3), grade = c.str(4);
    checkListSize(list);
    const int iCheck = requiredField(list, "IDCHECK", kEntries);
    const int iBranch = requiredField(list, "CDFILIAL", kEntries);
    const int iNr = requiredField(list, "NRLANCTONF", kEntries);

    std::vector<EntryKey> ticked;
    std::set<EntryKey> seen;
    core::PacketRow row;
    for (int r = 0; r < list.rowCount(); ++r) {
        list.readRow(r, row);
        if (cellText(row, iCheck) != "S")
            continue;
        EntryKey k{cellText(row, iBranch), cellText(row, iNr)};
        if (k.first != branch)
            throw BadRequest(QString("O lançamento %1 marcado é da filial %2, não da filial %3.")
                                 .arg(quoted(k.second), quoted(k.first), quoted(branch)));
        if (seen.insert(k).second)
            ticked.push_back(k);
    }
    if (ticked.empty())
        return Variant(); // item flow: CancelaItemNf already did the work

    QSqlDatabase conn = c.db.connection();
    Transaction tx(c.db, conn);
    const auto stored = loadEntries(c.db, conn, ticked, true);
    // Every ticked entry is checked before the answer is chosen: entries
    // someone else took meanwhile outrank any other refusal, so the caller
    // learns of them whatever else was refused.
    bool takenByOthers = false;
    QString firstRefusal;
    std::vector<std::pair<EntryKey, StoredEntry>> toCancel;
    for (const EntryKey& k : ticked) {
        auto s = stored.find(k);
        QString refusal;
        if (s == stored.end() || s->second.status != "P" || isBlockedEntry(s->second.status, s->second.statusNfe)) {
            refusal = "NOTAS_N_CANC"; // emitted, approved or cancelled by someone else meanwhile
        } else {
            QSqlQuery q =
                prepare(conn, "SELECT IDQUITADA, IDMAPAAPURADO FROM CONTAGERADA WHERE CDFILIAL = ? AND NRLANCTONF = ?");
            q.addBindValue(k.first);
            q.addBindValue(k.second);
            exec(q);
            bool paid = false, map = false;
            while (q.next()) {
                paid = paid || q.value(0).toString() == "S";
                map = map || q.value(1).toString() == "S";
            }
            if (map)
                refusal = "ERRO_EXC_COMISMAPA";
            else if (paid)
                refusal = "ERRO_EXC_COMIS";
        }
        if (refusal == "NOTAS_N_CANC") {
            takenByOthers = true;
            continue;
        }
        if (!refusal.isEmpty()) {
            if (firstRefusal.isEmpty())
                firstRefusal = refusal;
            continue;
        }
        toCancel.emplace_back(k, s->second);
    }
    if (takenByOthers)
        firstRefusal = "NOTAS_N_CANC";
    StockDeltas deltas;
    for (const auto& [k, e] : toCancel)
        addEntryStock(c.db, conn, k.first, k.second, e.nrLancEstq, nullptr, deltas);
    try {
        lockAndCheckStock(c.db, conn, deltas, "REPLIC_N_CANC"); // blocks the whole call: the transaction rolls back
    } catch (const core::ServerError&) {
        if (takenByOthers)
            throw core::ServerError("NOTAS_N_CANC");
        throw;
    }
    for (const auto& [k, e] : toCancel) {
        setEntryCancelled(conn, k.first, k.second, e.version, true);
        cancelEntryParts(conn, k.first, k.second, e.nrLancEstq);
        writeAudit(conn, c, operatorCode, branchInUse, k.first, k.second, QString(), "CANCELA_NOTA",
                   grade.isEmpty() || grade == "T" ? QString() : "Grade " + grade);
    }
    applyStock(c.db, conn, deltas);
    tx.commit();
    if (!firstRefusal.isEmpty())
        throw core::ServerError(firstRefusal);
    return Variant();
}

Variant cancelaItemNf(CallContext& c)
{
    const QString branch = c.str(0);
    const core::DataPacket& items = *c.packet(1);
    const QString entry = c.str(2), nrExp = c.str(3), nrLancEstq = c.str(4);
    const core::Date day = c.date(5);
    const QString cdFiliEmit = c.str(6), operatorCode = c.str(7);
    const int iCheck = requiredField(items, "IDCHECK", "itens");
    const int iSeq = requiredField(items, "NRSEQITPROD", "itens");
    if (items.rowCount() > kMaxItemRows)
        throw BadRequest(
            QString("Lista de itens longa demais (%1 linhas; no máximo %2).").arg(items.rowCount()).arg(kMaxItemRows));
    QStringList seqs;
    QSet<QString> seenSeqs;
    for (const auto& row : items.rows()) {
        if (cellText(row, iCheck) != "S")
            continue;
        const QString seq = cellText(row, iSeq);
        if (seenSeqs.contains(seq))
            continue;
        seenSeqs.insert(seq);
        seqs << seq;
    }
    if (seqs.isEmpty())
        throw core::ServerError("Nenhum item da nota fiscal está marcado para cancelamento.");
    if (seqs.size() > kMaxPickedKeys)
        throw BadRequest(
            QString("Itens marcados demais em uma chamada (%1; no máximo %2).").arg(seqs.size()).arg(kMaxPickedKeys));

    QSqlDatabase conn = c.db.connection();
    core::DataPacket followUp(fieldDefs(kFollowUpCols));
    {
        Transaction tx(c.db, conn);
        const auto stored = loadEntries(c.db, conn, {{branch, entry}}, true);
        auto s = stored.find({branch, entry});
        if (s == stored.end() || s->second.status != "P" || isBlockedEntry(s->second.status, s->second.statusNfe)
            || s->second.nrExp != nrExp || s->second.nrLancEstq != nrLancEstq || s->second.cdFiliEmit != cdFiliEmit
            || s->second.day != qint64(day.days))
            throw core::ServerError("NOTA_ALT");
        checkTickedItemsAreStored(c.db, conn, branch, entry, items, seqs);
        {
            QSqlQuery p = prepare(conn, "SELECT IDGERPRODEST FROM PARAMEXPED WHERE CDFILIAL = ?");
            p.addBindValue(branch);
            exec(p);
            if (p.next() && p.value(0).toString() == "3")
                throw core::ServerError("CANCEL_EXP");
        }
        {
            QSqlQuery a = prepare(conn, "SELECT COUNT(*) FROM CONTAGERADA WHERE CDFILIAL = ? AND NRLANCTONF = ?");
            a.addBindValue(branch);
            a.addBindValue(entry);
            exec(a);
            if (a.next() && a.value(0).toLongLong() > 0)
                throw core::ServerError("CNTCOMIS");
        }
        QSqlQuery it = prepare(conn,
                               QString("SELECT NRSEQITPROD, CDPRODUTO, NMPRODUTO, %1, CDFILIALPED, NRPEDIDO, "
                                       "NRITEMPED FROM ITLANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ? AND "
                                       "IDCANCELADO = 'N' AND NRSEQITPROD IN (%2) ORDER BY NRSEQITPROD")
                                   .arg(qtyFloatSql(c.db, "QTITEMPROD"), marks(seqs.size())));
        it.addBindValue(branch);
        it.addBindValue(entry);
        for (const QString& sq : seqs)
            it.addBindValue(sq);
        exec(it);
        while (it.next())
            followUp.appendRow({branch, entry, nrExp, nrLancEstq, day, cdFiliEmit, it.value(0).toString(),
                                it.value(1).toString(), it.value(2).toString(), it.value(3).toDouble(),
                                it.value(4).toString(), it.value(5).toString(), it.value(6).toString()});
        if (followUp.rowCount() != seqs.size())
            throw core::ServerError("NOTA_ALT"); // an item is gone or already cancelled
        StockDeltas deltas;
        addEntryStock(c.db, conn, branch, entry, nrLancEstq, &seqs, deltas);
        lockAndCheckStock(c.db, conn, deltas, "ITEM_N_CANC");
        QStringList binds{branch, entry};
        binds += seqs;
        execKeyed(conn,
                  QString("UPDATE ITLANCTONF SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCTONF = ? AND "
                          "NRSEQITPROD IN (%1)")
                      .arg(marks(seqs.size())),
                  binds);
        binds[1] = nrLancEstq;
        execKeyed(conn,
                  QString("UPDATE ITLANCTOEST SET IDCANCELADO = 'S' WHERE CDFILIAL = ? AND NRLANCESTQ = ? AND "
                          "NRSEQITPROD IN (%1)")
                      .arg(marks(seqs.size())),
                  binds);
        applyStock(c.db, conn, deltas);
        QSqlQuery left = prepare(
            conn, "SELECT COUNT(*) FROM ITLANCTONF WHERE CDFILIAL = ? AND NRLANCTONF = ? AND IDCANCELADO = 'N'");
        left.addBindValue(branch);
        left.addBindValue(entry);
        exec(left);
        const bool none = left.next() && left.value(0).toLongLong() == 0;
        setEntryCancelled(conn, branch, entry, s->second.version, none);
        if (none)
            cancelEntryParts(conn, branch, entry, nrLancEstq);
        for (const QString& sq : seqs)
            writeAudit(conn, c, operatorCode, QString(), branch, entry, sq, "CANCELA_ITEM", QString());
        if (none)
            writeAudit(conn, c, operatorCode, QString(), branch, entry, QString(), "CANCELA_NOTA",
                       "Todos os itens cancelados");
        tx.commit();
    }
    return Variant(core::VariantArray{Variant(std::move(followUp)), itemsOf(c.db, conn, branch, entry),
                                      accountsOf(c.db, conn, branch, entry)});
}

} // namespace server::cancelnota
