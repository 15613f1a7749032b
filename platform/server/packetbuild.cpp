#include "packetbuild.h"

#include "registry.h"

#include <QSqlError>
#include <QSqlRecord>

namespace server {

QList<core::FieldDef> fieldDefs(const std::vector<Column>& cols)
{
    QList<core::FieldDef> defs;
    defs.reserve(int(cols.size()));
    for (const Column& c : cols)
        defs << core::FieldDef{QString::fromLatin1(c.name), c.type, c.size, c.fixed, false};
    return defs;
}

namespace {

// One row from its values as QtSql gives them (`value(i)`), converted by
// the column's type.
template <class Value>
void toRow(Value value, const std::vector<Column>& cols, core::PacketRow& row)
{
    const int n = int(cols.size());
    row.clear();
    row.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        const QVariant& v = value(i);
        if (v.isNull()) {
            row.emplace_back();
            continue;
        }
        switch (cols[i].type) {
        case core::FieldType::String: row.emplace_back(v.toString()); break;
        case core::FieldType::Integer: row.emplace_back(qint64(v.toLongLong())); break;
        case core::FieldType::Float: row.emplace_back(v.toDouble()); break;
        case core::FieldType::Boolean: row.emplace_back(v.toBool()); break;
        case core::FieldType::DateTime: row.emplace_back(core::Date{v.toDouble()}); break;
        }
    }
}

void readRow(QSqlQuery& q, const std::vector<Column>& cols, core::PacketRow& row)
{
    QVariant cell;
    toRow([&](int i) -> const QVariant& { return cell = q.value(i); }, cols, row);
}

class QueryRows : public RowSource {
public:
    QueryRows(QSqlQuery q, const std::vector<Column>& cols)
        : q_(std::move(q)), cols_(cols), fields_(fieldDefs(cols)) { }
    const QList<core::FieldDef>& fields() const override { return fields_; }
    bool next(core::PacketRow& row) override
    {
        if (!q_.next()) {
            if (q_.lastError().isValid())
                throw InternalError(QString("Erro de banco de dados ao ler as linhas: %1").arg(q_.lastError().text()));
            q_.finish();
            return false;
        }
        readRow(q_, cols_, row);
        return true;
    }

private:
    QSqlQuery q_;
    std::vector<Column> cols_;
    QList<core::FieldDef> fields_;
};

} // namespace

core::DataPacket packetFromQuery(QSqlQuery& q, const std::vector<Column>& cols)
{
    core::DataPacket p(fieldDefs(cols));
    while (q.next()) {
        core::PacketRow row;
        readRow(q, cols, row);
        p.appendRow(std::move(row));
    }
    return p;
}

core::DataPacket packetFromSelect(QSqlDatabase& db, const QString& sql, const QVariantList& binds,
                                  const std::vector<Column>& cols)
{
    core::DataPacket p(fieldDefs(cols));
    selectKept(db, sql, binds, int(cols.size()), [&](const QVariant* cells) {
        core::PacketRow row;
        toRow([cells](int i) -> const QVariant& { return cells[i]; }, cols, row);
        p.appendRow(std::move(row));
    });
    return p;
}

std::shared_ptr<RowSource> rowsFromQuery(QSqlQuery q, const std::vector<Column>& cols)
{
    return std::make_shared<QueryRows>(std::move(q), cols);
}

int requiredField(const core::DataPacket& p, const QString& name, const QString& what)
{
    const int i = p.fieldIndex(name);
    if (i < 0)
        throw BadRequest(QString("O pacote de %1 não tem o campo %2.").arg(what, name));
    return i;
}

QString cellText(const core::PacketRow& row, int idx)
{
    const core::Variant& v = row.at(size_t(idx));
    return v.isNull() ? QString() : v.toString();
}

QString marks(int n)
{
    QString s;
    s.reserve(n * 2);
    for (int i = 0; i < n; ++i)
        s += i ? ",?" : "?";
    return s;
}

} // namespace server
