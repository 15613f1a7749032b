// The checks before a cancellation: the replicas of an entry or the ticking
// of a whole list, and whether listed entries changed since they were loaded.
#include "cancelnota_shared.h"

#include <QSqlQuery>

namespace server::cancelnota {

using core::Variant;

Variant verReplic(CallContext& c)
{
    QSqlDatabase conn = c.db.connection();
    const core::DataPacket* list = c.packet(0);
    // The one-entry form names its branch; the whole-list form sends it
    // empty, and the rows' own branches are what is checked.
    if (!list || !c.str(1).isEmpty())
        c.requireBranch(c.str(1));
    if (!list) {
        core::DataPacket docs = replicatedDocs(c.db, conn, {{c.str(1), c.str(2)}});
        return Variant(core::VariantArray{Variant(), docs.isEmpty() ? Variant() : Variant(std::move(docs)), qint64(0)});
    }
    // Whole list: tick every entry that may be ticked.
    checkListSize(*list);
    c.requireBranches(*list, "CDFILIAL");
    // The list goes back as it came, its tick column written anew (a
    // compact list shares its rows with the copy).
    core::DataPacket out = *list;
    const int iCheck = requiredField(out, "IDCHECK", kEntries);
    const int iBranch = requiredField(out, "CDFILIAL", kEntries);
    const int iNr = requiredField(out, "NRLANCTONF", kEntries);
    const int iStatus = out.fieldIndex("IDSTATUS"), iNfe = out.fieldIndex("IDSTATUSNFE");
    std::vector<EntryKey> keys;
    keys.reserve(size_t(out.rowCount()));
    // The row as the caller sent it may already show the entry blocked.
    std::vector<bool> blocked(size_t(out.rowCount()), false);
    core::PacketRow row;
    for (int r = 0; r < out.rowCount(); ++r) {
        out.readRow(r, row);
        keys.emplace_back(cellText(row, iBranch), cellText(row, iNr));
        blocked[size_t(r)] = iStatus >= 0 && iNfe >= 0 && isBlockedEntry(cellText(row, iStatus), cellText(row, iNfe));
    }
    const auto tickable = tickableEntries(conn, keys);
    std::vector<EntryKey> ticked;
    qint64 count = 0;
    const Variant yes("S"), no("N"); // one text each, shared by every row
    for (int r = 0; r < out.rowCount(); ++r) {
        const auto b = tickable.find(keys[size_t(r)].first);
        bool ok = b != tickable.end() && b->second.contains(keys[size_t(r)].second);
        ok = ok && !blocked[size_t(r)];
        out.setCell(r, iCheck, ok ? yes : no);
        if (ok) {
            ++count;
            ticked.push_back(keys[size_t(r)]);
        }
    }
    core::DataPacket docs = replicatedDocs(c.db, conn, ticked);
    return Variant(
        core::VariantArray{Variant(std::move(out)), docs.isEmpty() ? Variant() : Variant(std::move(docs)), count});
}

Variant getVdCancela(CallContext& c)
{
    const core::DataPacket& list = *c.packet(0);
    checkListSize(list);
    c.requireBranches(list, "CDFILIAL");
    const int iBranch = requiredField(list, "CDFILIAL", kEntries);
    const int iNr = requiredField(list, "NRLANCTONF", kEntries);
    const int iStatus = list.fieldIndex("IDSTATUS"), iNfe = list.fieldIndex("IDSTATUSNFE");
    const int iVersion = list.fieldIndex("NRVERSAO");
    QSqlDatabase conn = c.db.connection();
    std::vector<EntryKey> keys;
    keys.reserve(size_t(list.rowCount()));
    core::PacketRow row;
    for (int r = 0; r < list.rowCount(); ++r) {
        list.readRow(r, row);
        keys.emplace_back(cellText(row, iBranch), cellText(row, iNr));
    }
    const auto stored = loadEntries(c.db, conn, keys, false);
    qint64 changed = 0;
    for (size_t r = 0; r < keys.size(); ++r) {
        list.readRow(int(r), row);
        auto s = stored.find(keys[r]);
        if (s == stored.end()) {
            ++changed;
            continue;
        }
        bool differs = false;
        if (iVersion >= 0 && !row[size_t(iVersion)].isNull())
            differs = row[size_t(iVersion)].toInt() != s->second.version;
        if (iStatus >= 0 && cellText(row, iStatus) != s->second.status)
            differs = true;
        if (iNfe >= 0 && cellText(row, iNfe) != s->second.statusNfe)
            differs = true;
        if (differs)
            ++changed;
    }
    return Variant(changed);
}

} // namespace server::cancelnota
