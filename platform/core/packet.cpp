// Field types and the data packet: its rows as values or compact bytes,
// and the checks of a value against its field.
#include "packet.h"

#include "compactrows_p.h"
#include "errors.h"
#include "wire_p.h"

#include <cmath>

namespace core {

// --- field types -------------------------------------------------------------------

QString fieldTypeName(FieldType t)
{
    switch (t) {
    case FieldType::String: return QStringLiteral("string");
    case FieldType::Integer: return QStringLiteral("integer");
    case FieldType::Float: return QStringLiteral("float");
    case FieldType::Boolean: return QStringLiteral("boolean");
    case FieldType::DateTime: return QStringLiteral("datetime");
    }
    return QStringLiteral("?");
}

FieldType fieldTypeFromName(const QString& name)
{
    if (name == QLatin1String("string"))
        return FieldType::String;
    if (name == QLatin1String("integer"))
        return FieldType::Integer;
    if (name == QLatin1String("float"))
        return FieldType::Float;
    if (name == QLatin1String("boolean"))
        return FieldType::Boolean;
    if (name == QLatin1String("datetime"))
        return FieldType::DateTime;
    throw Error(QStringLiteral("Tipo de campo desconhecido: \"%1\"").arg(name));
}

// --- DataPacket ------------------------------------------------------------------------

int DataPacket::fieldIndex(const QString& name) const
{
    for (int i = 0; i < fields_.size(); ++i)
        if (fields_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString DataPacket::checkValue(const FieldDef& f, const Variant& v)
{
    using T = Variant::Type;
    const T t = v.type();
    if (t == T::Null)
        return f.required ? QStringLiteral("valor obrigatório ausente") : QString();
    if (!valueFitsField(t, f.type))
        return QStringLiteral("valor do tipo %1 num campo %2").arg(Variant::typeName(t), fieldTypeName(f.type));
    if (f.type == FieldType::String && f.size > 0) {
        const qsizetype n = v.toString().size();
        if (n > f.size)
            return QStringLiteral("texto de %1 caracteres excede o tamanho %2").arg(n).arg(f.size);
    }
    if (f.type == FieldType::Float && t == T::Double && !std::isfinite(v.toDouble()))
        return QStringLiteral("número não finito");
    return {};
}

QString rowFieldError(int row, const QString& field, const QString& why)
{
    return QStringLiteral("Pacote de dados recusado: linha %1, campo %2: %3").arg(row + 1).arg(field, why);
}

DataPacket::DataPacket(QList<FieldDef> fields, std::shared_ptr<const CompactRows> rows)
    : fields_(std::move(fields)), compact_(std::move(rows))
{ }

int DataPacket::rowCount() const
{
    return compact_ ? compact_->count() : int(rows_.size());
}

void DataPacket::readRow(int r, PacketRow& out) const
{
    if (!compact_) {
        out = rows_.at(size_t(r));
        return;
    }
    const size_t nf = size_t(fields_.size());
    out.resize(nf);
    const char* p = compact_->starts.at(size_t(r));
    for (size_t f = 0; f < nf; ++f)
        p = CompactRows::read(p, out[f]);
    for (const auto& [col, values] : written_)
        out[size_t(col)] = values[size_t(r)];
}

Variant DataPacket::cell(int r, int f) const
{
    if (!compact_)
        return rows_.at(size_t(r)).at(size_t(f));
    if (f < 0 || f >= fields_.size())
        throw Error(QStringLiteral("Campo %1 fora do pacote de dados").arg(f));
    if (auto w = written_.find(f); w != written_.end())
        return w->second.at(size_t(r));
    const char* p = compact_->starts.at(size_t(r));
    for (int i = 0; i < f; ++i)
        p = CompactRows::skip(p);
    Variant v;
    CompactRows::read(p, v);
    return v;
}

void DataPacket::setCell(int r, int f, Variant v)
{
    if (!compact_) {
        rows_.at(size_t(r)).at(size_t(f)) = std::move(v);
        return;
    }
    auto w = written_.find(f);
    if (w == written_.end()) {
        std::vector<Variant> column;
        column.reserve(size_t(rowCount()));
        for (int i = 0; i < rowCount(); ++i)
            column.push_back(cell(i, f));
        w = written_.emplace(f, std::move(column)).first;
    }
    w->second.at(size_t(r)) = std::move(v);
}

void DataPacket::materialize() const
{
    std::vector<PacketRow> rows(size_t(compact_->count()));
    for (int r = 0; r < compact_->count(); ++r)
        readRow(r, rows[size_t(r)]);
    rows_ = std::move(rows);
    compact_.reset();
    written_.clear();
}

void DataPacket::appendRow(PacketRow row)
{
    if (compact_)
        materialize();
    if (int(row.size()) != fields_.size())
        throw Error(QStringLiteral("Pacote de dados recusado: linha %1 com %2 valores para %3 campos")
                        .arg(rowCount() + 1)
                        .arg(row.size())
                        .arg(fields_.size()));
    for (int i = 0; i < fields_.size(); ++i) {
        const QString why = checkValue(fields_[i], row[size_t(i)]);
        if (!why.isEmpty())
            throw Error(rowFieldError(rowCount(), fields_[i].name, why));
    }
    // Float fields hold doubles, whatever number the caller gave.
    for (int i = 0; i < fields_.size(); ++i)
        if (fields_[i].type == FieldType::Float && row[size_t(i)].type() == Variant::Type::Integer)
            row[size_t(i)] = Variant(row[size_t(i)].toDouble());
    rows_.push_back(std::move(row));
}

const Variant& DataPacket::value(int row, const QString& field) const
{
    const int f = fieldIndex(field);
    if (f < 0)
        throw Error(QStringLiteral("Campo \"%1\" não existe no pacote de dados").arg(field));
    if (row < 0 || row >= rowCount())
        throw Error(QStringLiteral("Linha %1 fora do pacote de dados (%2 linhas)").arg(row).arg(rowCount()));
    return rows()[size_t(row)][size_t(f)];
}

void DataPacket::validate() const
{
    if (compact_)
        materialize();
    for (int r = 0; r < rowCount(); ++r) {
        const PacketRow& row = rows_[size_t(r)];
        if (int(row.size()) != fields_.size())
            throw Error(QStringLiteral("Pacote de dados recusado: linha %1 com %2 valores para %3 campos")
                            .arg(r + 1)
                            .arg(row.size())
                            .arg(fields_.size()));
        for (int i = 0; i < fields_.size(); ++i) {
            const QString why = checkValue(fields_[i], row[size_t(i)]);
            if (!why.isEmpty())
                throw Error(rowFieldError(r, fields_[i].name, why));
        }
    }
}

bool DataPacket::operator==(const DataPacket& o) const
{
    return fields_ == o.fields_ && rows() == o.rows();
}

} // namespace core
