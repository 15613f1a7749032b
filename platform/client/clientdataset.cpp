#include "clientdataset.h"
#include <core/dispose.h>

#include <core/errors.h>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace core {

namespace {

// Rows from which a replaced list is freed on a pool thread.
constexpr int kDisposeRows = 10000;

// Orders two values of one field: nulls first, then by value. Strings compare
// by their characters (letter case matters), as an index does.
int compareValues(const Variant& a, const Variant& b)
{
    using T = Variant::Type;
    const T ta = a.type(), tb = b.type();
    if (ta == T::Null || tb == T::Null)
        return (ta == T::Null ? 0 : 1) - (tb == T::Null ? 0 : 1);
    if (ta == T::String && tb == T::String)
        return a.stringPtr()->compare(*b.stringPtr());
    if (ta == T::Integer && tb == T::Integer) {
        const qint64 x = a.toInt(), y = b.toInt();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if ((ta == T::Integer || ta == T::Double || ta == T::Date || ta == T::Boolean)
        && (tb == T::Integer || tb == T::Double || tb == T::Date || tb == T::Boolean)) {
        const double x = a.toDouble(), y = b.toDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    return a.toString().compare(b.toString());
}

// A pure digit picture ("99.999.9999", optionally with ";0;_" parts): '9'
// and '0' take a digit, any other character except mask letters is a literal.
bool digitPicture(const QString& mask, QString& picture, int& places)
{
    picture = mask.section(u';', 0, 0);
    places = 0;
    if (picture.isEmpty())
        return false;
    for (QChar c : picture) {
        if (c == u'9' || c == u'0')
            ++places;
        else if (c.isLetterOrNumber() || c == u'#' || c == u'\\' || c == u'<' || c == u'>' || c == u'!' || c == u'_')
            return false;
    }
    return places > 0;
}

} // namespace

// --- Column ------------------------------------------------------------------------

bool ClientDataset::Column::isNull(size_t row) const
{
    return type == FieldType::String ? text[row] == kNullText : bool(nulls[row]);
}

Variant ClientDataset::Column::get(size_t row) const
{
    if (isNull(row))
        return Variant();
    switch (type) {
    case FieldType::String: return Variant(texts[text[row]]);
    case FieldType::Integer: return Variant(ints[row]);
    case FieldType::Float: return Variant(nums[row]);
    case FieldType::DateTime: return Variant(Date{nums[row]});
    case FieldType::Boolean: return Variant(bool(bits[row]));
    }
    return Variant();
}

void ClientDataset::Column::set(size_t row, const Variant& v)
{
    // Values reach here checked against the field's type (load, setValue).
    if (type == FieldType::String) {
        if (v.isNull()) {
            text[row] = kNullText;
            return;
        }
        const QString s = v.stringPtr() ? *v.stringPtr() : v.toString();
        const quint32 old = text[row];
        if (old != kNullText && texts[old] == s)
            return;
        // A column of few distinct texts (statuses, ticks, branch codes) is
        // searched, so that editing many rows does not grow it; a column of
        // many gets the new text appended.
        if (texts.size() <= 64) {
            for (size_t i = 0; i < texts.size(); ++i)
                if (texts[i] == s) {
                    text[row] = quint32(i);
                    return;
                }
        }
        text[row] = quint32(texts.size());
        texts.push_back(s);
        return;
    }
    nulls[row] = v.isNull();
    switch (type) {
    case FieldType::Integer: ints[row] = v.isNull() ? 0 : v.toInt(); break;
    case FieldType::Float: nums[row] = v.isNull() ? 0.0 : v.toDouble(); break;
    case FieldType::DateTime: nums[row] = v.isNull() ? 0.0 : v.toDate().days; break;
    case FieldType::Boolean: bits[row] = v.isNull() ? false : v.toBool(); break;
    case FieldType::String: break;
    }
}

void ClientDataset::Column::reserve(size_t n)
{
    switch (type) {
    case FieldType::String: text.reserve(n); return;
    case FieldType::Integer: ints.reserve(n); break;
    case FieldType::Float:
    case FieldType::DateTime: nums.reserve(n); break;
    case FieldType::Boolean: bits.reserve(n); break;
    }
    nulls.reserve(n);
}

void ClientDataset::Column::clear()
{
    *this = Column{type, {}, {}, {}, {}, {}, {}};
}

// --- Field -------------------------------------------------------------------------

Field::Field(ClientDataset* owner, FieldDef def) : owner_(owner), def_(std::move(def)) { }

int Field::index() const
{
    return index_;
}

Variant Field::value() const
{
    return owner_->currentValue(index_);
}

QString Field::asString() const
{
    const Variant v = value();
    return v.isNull() ? QString() : v.toString();
}

double Field::asFloat() const
{
    const Variant v = value();
    return v.isNull() ? 0.0 : v.toDouble();
}

qint64 Field::asInteger() const
{
    const Variant v = value();
    return v.isNull() ? 0 : v.toInt();
}

Date Field::asDateTime() const
{
    const Variant v = value();
    return v.isNull() ? Date{} : v.toDate();
}

void Field::setValue(const Variant& v)
{
    ClientDataset& ds = *owner_;
    if (ds.state_ != DatasetState::Edit || !ds.editBuffer_)
        throw Error(QStringLiteral("O conjunto de dados %1 não está em edição; o campo %2 não pode ser alterado.")
                        .arg(ds.objectName(), def_.name));
    Variant value = v;
    // Numbers given as text or as the other numeric kind are brought to the field's type.
    if (!value.isNull()) {
        switch (def_.type) {
        case FieldType::Float:
            if (value.type() != Variant::Type::Double)
                value = Variant(value.toDouble());
            break;
        case FieldType::Integer:
            if (value.type() != Variant::Type::Integer)
                value = Variant(value.toInt());
            break;
        case FieldType::DateTime:
            if (value.type() != Variant::Type::Date)
                value = Variant(value.toDate());
            break;
        case FieldType::Boolean:
            if (value.type() != Variant::Type::Boolean)
                value = Variant(value.toBool());
            break;
        case FieldType::String:
            if (value.type() != Variant::Type::String)
                value = Variant(value.toString());
            break;
        }
    }
    FieldDef check = def_;
    check.required = false; // a required field may be blank while editing; the packet check catches it
    const QString why = DataPacket::checkValue(check, value);
    if (!why.isEmpty())
        throw Error(QStringLiteral("Valor inválido para o campo %1: %2").arg(def_.name, why));
    (*ds.editBuffer_)[size_t(index_)] = std::move(value);
    ds.notifyData();
}

QString Field::displayText() const
{
    if (onGetText_) {
        QString text;
        // The handler gets a mutable sender; reading values through it is all it does.
        onGetText_(const_cast<Field&>(*this), text, true);
        return text;
    }
    const Variant v = value();
    if (v.isNull())
        return QString();
    switch (def_.type) {
    case FieldType::Float: {
        const double d = v.toDouble();
        if (!displayFormat_.isEmpty())
            return formatFloat(d, displayFormat_);
        QString s = QString::number(d, 'g', 15);
        s.replace(u'.', u',');
        return s;
    }
    case FieldType::Integer: return QString::number(v.toInt());
    case FieldType::DateTime: return v.toDate().toQDate().toString(QStringLiteral("dd/MM/yyyy"));
    case FieldType::Boolean: return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::String: {
        const QString s = v.toString();
        QString picture;
        int places = 0;
        // An edit mask that is a pure digit picture formats a value made of
        // exactly as many digits; anything else is shown as stored.
        if (editMask_.isEmpty() || !digitPicture(editMask_, picture, places) || s.size() != places)
            return s;
        for (QChar c : s)
            if (!c.isDigit())
                return s;
        QString out;
        out.reserve(picture.size());
        int k = 0;
        for (QChar c : picture)
            out += (c == u'9' || c == u'0') ? s.at(k++) : c;
        return out;
    }
    }
    return v.toString();
}

// --- ClientDataset: fields and state --------------------------------------------------

ClientDataset::ClientDataset(const QString& name, QObject* parent) : QObject(parent)
{
    setObjectName(name);
}

ClientDataset::~ClientDataset()
{
    for (DataSource* s : sources_)
        s->ds_ = nullptr;
}

Field& ClientDataset::addField(const FieldDef& def, const QString& label, bool visible)
{
    if (active())
        throw Error(QStringLiteral("Campos não podem ser incluídos no conjunto de dados %1 aberto.").arg(objectName()));
    if (def.name.trimmed().isEmpty())
        throw Error(QStringLiteral("Campo sem nome no conjunto de dados %1.").arg(objectName()));
    if (findField(def.name))
        throw Error(QStringLiteral("Campo %1 repetido no conjunto de dados %2.").arg(def.name, objectName()));
    auto f = std::make_unique<Field>(this, def);
    f->index_ = int(fields_.size());
    Column c;
    c.type = def.type;
    columns_.push_back(std::move(c));
    f->setDisplayLabel(label);
    f->setVisible(visible);
    fields_.push_back(std::move(f));
    return *fields_.back();
}

Field& ClientDataset::addString(const QString& name, int size, const QString& label, bool visible, bool fixed)
{
    return addField(FieldDef{name, FieldType::String, size, fixed, false}, label, visible);
}

Field& ClientDataset::addFloat(const QString& name, const QString& label, bool visible, const QString& displayFormat)
{
    Field& f = addField(FieldDef{name, FieldType::Float, 0, false, false}, label, visible);
    f.setDisplayFormat(displayFormat);
    return f;
}

Field& ClientDataset::addDateTime(const QString& name, const QString& label, bool visible)
{
    return addField(FieldDef{name, FieldType::DateTime, 0, false, false}, label, visible);
}

Field& ClientDataset::addInteger(const QString& name, const QString& label, bool visible)
{
    return addField(FieldDef{name, FieldType::Integer, 0, false, false}, label, visible);
}

Field* ClientDataset::findField(const QString& name) const
{
    const QString n = name.trimmed();
    for (const auto& f : fields_)
        if (f->fieldName().compare(n, Qt::CaseInsensitive) == 0)
            return f.get();
    return nullptr;
}

Field& ClientDataset::fieldByName(const QString& name) const
{
    if (Field* f = findField(name))
        return *f;
    throw Error(QStringLiteral("%1: campo '%2' não encontrado.").arg(objectName(), name));
}

bool ClientDataset::isEmpty() const
{
    return !active() || rowCount_ == 0;
}

int ClientDataset::recordCount() const
{
    return active() ? rowCount_ : 0;
}

int ClientDataset::recNo() const
{
    return active() && rowCount_ > 0 ? cur_ : -1;
}

void ClientDataset::checkActive(const char* what) const
{
    if (!active())
        throw Error(QStringLiteral("%1: operação não permitida com o conjunto de dados fechado (%2).")
                        .arg(objectName(), QString::fromLatin1(what)));
}

void ClientDataset::notifyState()
{
    if (disableCount_ > 0)
        pendingState_ = true;
    else
        emit stateChanged();
    // Plain calls, so that an exception thrown by a handler reaches the caller
    // of open/close/edit/post and the handler has run when that call returns.
    // A handler may unbind sources, so the list is copied first.
    const std::vector<DataSource*> sources = sources_;
    for (DataSource* s : sources) {
        if (std::find(sources_.begin(), sources_.end(), s) == sources_.end())
            continue;
        if (s->onStateChange_) {
            const DataSource::Handler h = s->onStateChange_;
            h(*s);
        }
    }
}

void ClientDataset::setState(DatasetState s)
{
    if (state_ == s)
        return;
    state_ = s;
    notifyState();
}

void ClientDataset::notifyData()
{
    if (disableCount_ > 0)
        pendingDataChange_ = true;
    else
        emit dataChanged();
}

void ClientDataset::notifyMove()
{
    if (disableCount_ > 0)
        pendingMove_ = true;
    else
        emit currentChanged(recNo());
}

void ClientDataset::fireAfterScroll()
{
    if (afterScroll_) {
        // A copy: the handler may detach or replace itself.
        const Event e = afterScroll_;
        e(*this);
    }
}

void ClientDataset::afterMove(bool moved)
{
    if (moved)
        notifyMove();
    fireAfterScroll();
}

void ClientDataset::createDataSet()
{
    editBuffer_.reset();
    for (Column& c : columns_)
        c.clear();
    rowCount_ = 0;
    order_.clear();
    ++rowsVersion_;
    cur_ = -1;
    bof_ = eof_ = true;
    // Like a load, a (re)creation always tells the data sources.
    state_ = DatasetState::Browse;
    notifyState();
    notifyData();
    notifyMove();
}

void ClientDataset::close()
{
    if (!active())
        return;
    editBuffer_.reset();
    for (Column& c : columns_)
        c.clear();
    rowCount_ = 0;
    order_.clear();
    order_.shrink_to_fit();
    ++rowsVersion_;
    cur_ = -1;
    bof_ = eof_ = true;
    notifyData();
    notifyMove();
    setState(DatasetState::Inactive);
}

void ClientDataset::emptyDataSet()
{
    checkActive("emptyDataSet");
    editBuffer_.reset();
    for (Column& c : columns_)
        c.clear();
    rowCount_ = 0;
    order_.clear();
    ++rowsVersion_;
    cur_ = -1;
    bof_ = eof_ = true;
    notifyData();
    notifyMove();
    setState(DatasetState::Browse);
}

// --- loading and saving ------------------------------------------------------------------

void ClientDataset::loadFromPacket(const DataPacket& p)
{
    if (fields_.empty())
        throw Error(QStringLiteral("%1: nenhum campo declarado.").arg(objectName()));
    const int nf = int(fields_.size());
    // Where each declared field sits in the packet.
    std::vector<int> map(size_t(nf), -1);
    for (int i = 0; i < nf; ++i) {
        const int k = p.fieldIndex(fields_[size_t(i)]->fieldName());
        if (k < 0)
            throw Error(QStringLiteral("%1: o pacote de dados não tem o campo %2.")
                            .arg(objectName(), fields_[size_t(i)]->fieldName()));
        map[size_t(i)] = k;
    }

    // Check every value before anything changes: a refused packet leaves the
    // dataset as it was. Only the type is checked against the declared field;
    // sizes and required flags are the packet's own business.
    for (int r = 0; r < p.rowCount(); ++r) {
        const PacketRow& row = p.rows()[size_t(r)];
        if (int(row.size()) != p.fields().size())
            throw Error(QStringLiteral("%1: pacote de dados recusado: linha %2 com %3 valores para %4 campos.")
                            .arg(objectName())
                            .arg(r + 1)
                            .arg(row.size())
                            .arg(p.fields().size()));
        for (int i = 0; i < nf; ++i) {
            const Variant& v = row[size_t(map[size_t(i)])];
            const Variant::Type t = v.type();
            if (t == Variant::Type::Null)
                continue;
            if (!valueFitsField(t, fields_[size_t(i)]->dataType()))
                throw Error(
                    QStringLiteral("%1: pacote de dados recusado: linha %2, campo %3: valor do tipo %4 num campo %5.")
                        .arg(objectName())
                        .arg(r + 1)
                        .arg(fields_[size_t(i)]->fieldName(), Variant::typeName(t),
                             fieldTypeName(fields_[size_t(i)]->dataType())));
        }
    }

    // The values go into new columns by type. The packet stays alive
    // throughout, so no text's address is reused while the columns fill.
    const size_t n = size_t(p.rowCount());
    std::vector<Column> cols(static_cast<size_t>(nf));
    for (int i = 0; i < nf; ++i) {
        cols[size_t(i)].type = fields_[size_t(i)]->dataType();
        cols[size_t(i)].reserve(n);
    }
    // The decoder hands repeated texts of a column over shared (one text,
    // many rows), so a text is recognised by its address: a small cache per
    // column maps recently seen addresses to their index. An equal text not
    // shared, or pushed out of the cache, is simply held once more.
    constexpr size_t kSlots = 4096;
    struct Slot {
        const void* text = nullptr;
        quint32 index = 0;
    };
    std::vector<std::vector<Slot>> seen(static_cast<size_t>(nf));
    for (const PacketRow& src : p.rows()) {
        for (int i = 0; i < nf; ++i) {
            const Variant& v = src[size_t(map[size_t(i)])];
            Column& c = cols[size_t(i)];
            const bool null = v.isNull();
            switch (c.type) {
            case FieldType::String: {
                if (null) {
                    c.text.push_back(Column::kNullText);
                    break;
                }
                const QString& str = *v.stringPtr();
                std::vector<Slot>& cache = seen[size_t(i)];
                if (cache.empty())
                    cache.resize(kSlots);
                const void* key = str.constData();
                Slot& slot = cache[(quintptr(key) >> 4) % kSlots];
                if (slot.text != key) {
                    // A text of its own rather than the packet's: the packet's
                    // texts sit among its rows, whose memory is freed after the
                    // load and could not go back to the system around them.
                    slot.text = key;
                    slot.index = quint32(c.texts.size());
                    c.texts.push_back(QString(str.constData(), str.size()));
                }
                c.text.push_back(slot.index);
                break;
            }
            case FieldType::Integer: c.ints.push_back(null ? 0 : v.toInt()); break;
            // An integer in a float field is widened, as setValue does.
            case FieldType::Float: c.nums.push_back(null ? 0.0 : v.toDouble()); break;
            case FieldType::DateTime: c.nums.push_back(null ? 0.0 : v.toDate().days); break;
            case FieldType::Boolean: c.bits.push_back(null ? false : v.toBool()); break;
            }
            if (c.type != FieldType::String)
                c.nulls.push_back(null);
        }
    }
    seen.clear();
    for (Column& c : cols)
        c.texts.shrink_to_fit();

    // From here on nothing can fail but the handlers the load notifies.
    editBuffer_.reset();
    std::vector<Column> old = std::exchange(columns_, std::move(cols));
    if (rowCount_ >= kDisposeRows)
        disposeLater(std::move(old)); // a long list is freed off this thread, after the repaint
    rowCount_ = int(n);
    order_.clear();
    sortRows();
    ++rowsVersion_;
    cur_ = rowCount_ == 0 ? -1 : 0;
    bof_ = true;
    eof_ = rowCount_ == 0;
    state_ = DatasetState::Browse;
    notifyState();
    notifyData();
    notifyMove();
    if (rowCount_ > 0)
        fireAfterScroll();
}

void ClientDataset::setData(const Variant& v)
{
    if (!v.isPacket())
        throw Error(QStringLiteral("%1: o valor recebido não é um pacote de dados (%2).")
                        .arg(objectName(), Variant::typeName(v.type())));
    loadFromPacket(v.packet());
}

DataPacket ClientDataset::toPacket() const
{
    QList<FieldDef> defs;
    defs.reserve(qsizetype(fields_.size()));
    for (const auto& f : fields_)
        defs.append(f->def());
    DataPacket p(std::move(defs));
    if (!active())
        return p;
    std::vector<PacketRow>& rows = p.rows();
    rows.reserve(size_t(rowCount_));
    // A pending edit travels as if posted.
    const int edited = state_ == DatasetState::Edit && editBuffer_ && cur_ >= 0 ? physical(cur_) : -1;
    for (int r = 0; r < rowCount_; ++r)
        rows.push_back(r == edited ? *editBuffer_ : rowValues(r));
    return p;
}

Variant ClientDataset::data() const
{
    return Variant(toPacket());
}

// --- index -----------------------------------------------------------------------------

void ClientDataset::setIndexFieldNames(const QString& names)
{
    std::vector<int> fields;
    for (const QString& part : names.split(u';', Qt::SkipEmptyParts)) {
        const QString n = part.trimmed();
        if (n.isEmpty())
            continue;
        fields.push_back(fieldByName(n).index());
    }
    postIfEditing();
    const int physCur = cur_ >= 0 ? physical(cur_) : -1;
    indexFieldNames_ = names;
    indexFields_ = std::move(fields);
    if (!active())
        return;
    sortRows();
    ++rowsVersion_;
    const int newCur = physCur >= 0 ? positionOf(physCur) : -1;
    const bool moved = newCur != cur_;
    cur_ = newCur;
    notifyData();
    if (moved)
        notifyMove();
}

bool ClientDataset::rowLess(int a, int b) const
{
    for (int f : indexFields_) {
        const int c = compareCells(f, a, b);
        if (c != 0)
            return c < 0;
    }
    return a < b; // equal keys keep load order
}

void ClientDataset::sortRows()
{
    order_.clear();
    if (indexFields_.empty() || rowCount_ == 0)
        return;
    const size_t n = size_t(rowCount_);
    order_.resize(n);
    std::iota(order_.begin(), order_.end(), 0);

    // Sort keys taken out of the rows once, so the comparisons read plain
    // numbers, and short Latin-1 strings packed into two integers (code unit
    // order is byte order), instead of dispatching on variant types and
    // chasing string data through the heap.
    struct Key {
        quint64 hi, lo; // packed strings: first 16 code units, big-endian
        double num;
        int kind; // 0 null, 1 number, 2 packed string, 3 other string
        int len;
    };
    const size_t nk = indexFields_.size();
    std::vector<Key> keys(n * nk);
    for (size_t r = 0; r < n; ++r) {
        for (size_t k = 0; k < nk; ++k) {
            const Column& col = columns_[size_t(indexFields_[k])];
            Key& key = keys[r * nk + k];
            key = Key{0, 0, 0, 0, 0};
            if (col.isNull(r))
                continue;
            switch (col.type) {
            case FieldType::String: {
                const QString& str = col.texts[col.text[r]];
                key.len = int(str.size());
                key.kind = key.len <= 16 ? 2 : 3;
                for (int i = 0; i < key.len && key.kind == 2; ++i) {
                    const char16_t c = str.at(i).unicode();
                    if (c > 0xFF)
                        key.kind = 3;
                    else if (i < 8)
                        key.hi |= quint64(c) << (8 * (7 - i));
                    else
                        key.lo |= quint64(c) << (8 * (15 - i));
                }
                break;
            }
            case FieldType::Integer:
                key.kind = 1;
                key.num = double(col.ints[r]);
                break;
            case FieldType::Float:
            case FieldType::DateTime:
                key.kind = 1;
                key.num = col.nums[r];
                break;
            case FieldType::Boolean:
                key.kind = 1;
                key.num = col.bits[r] ? 1.0 : 0.0;
                break;
            }
        }
    }
    auto less = [&](int a, int b) {
        const Key* x = &keys[size_t(a) * nk];
        const Key* y = &keys[size_t(b) * nk];
        for (size_t k = 0; k < nk; ++k) {
            int c;
            if (x[k].kind == 1 && y[k].kind == 1)
                c = x[k].num < y[k].num ? -1 : x[k].num > y[k].num ? 1 : 0;
            else if (x[k].kind == 2 && y[k].kind == 2)
                c = x[k].hi != y[k].hi   ? (x[k].hi < y[k].hi ? -1 : 1)
                    : x[k].lo != y[k].lo ? (x[k].lo < y[k].lo ? -1 : 1)
                                         : (x[k].len < y[k].len       ? -1
                                                : x[k].len > y[k].len ? 1
                                                                      : 0);
            else
                c = compareCells(indexFields_[k], a, b);
            if (c != 0)
                return c < 0;
        }
        return a < b;
    };
    // A list usually arrives in its index's order (the server sorts it the
    // same way): one pass tells, and the sort is skipped.
    bool sorted = true;
    for (size_t i = 1; i < n && sorted; ++i)
        sorted = !less(order_[i], order_[i - 1]);
    if (!sorted)
        std::sort(order_.begin(), order_.end(), less);
}

int ClientDataset::positionOf(int phys) const
{
    if (order_.empty())
        return phys;
    auto it = std::lower_bound(order_.begin(), order_.end(), phys, [this](int a, int b) { return rowLess(a, b); });
    return int(it - order_.begin());
}

// --- cursor ------------------------------------------------------------------------------

void ClientDataset::postIfEditing()
{
    if (state_ == DatasetState::Edit)
        post();
}

void ClientDataset::first()
{
    checkActive("first");
    postIfEditing();
    if (rowCount_ == 0) {
        bof_ = eof_ = true;
        return;
    }
    const bool moved = cur_ != 0;
    cur_ = 0;
    bof_ = true;
    eof_ = false;
    afterMove(moved);
}

void ClientDataset::last()
{
    checkActive("last");
    postIfEditing();
    if (rowCount_ == 0) {
        bof_ = eof_ = true;
        return;
    }
    const int n = rowCount_ - 1;
    const bool moved = cur_ != n;
    cur_ = n;
    bof_ = false;
    eof_ = true;
    afterMove(moved);
}

void ClientDataset::next()
{
    checkActive("next");
    postIfEditing();
    if (rowCount_ == 0) {
        bof_ = eof_ = true;
        return;
    }
    if (cur_ >= rowCount_ - 1) {
        eof_ = true;
        return;
    }
    ++cur_;
    bof_ = eof_ = false;
    afterMove(true);
}

void ClientDataset::prior()
{
    checkActive("prior");
    postIfEditing();
    if (rowCount_ == 0) {
        bof_ = eof_ = true;
        return;
    }
    if (cur_ <= 0) {
        bof_ = true;
        return;
    }
    --cur_;
    bof_ = eof_ = false;
    afterMove(true);
}

void ClientDataset::moveTo(int row)
{
    checkActive("moveTo");
    postIfEditing();
    if (rowCount_ == 0) {
        bof_ = eof_ = true;
        return;
    }
    const int n = rowCount_;
    const int target = std::clamp(row, 0, n - 1);
    bof_ = row <= 0;
    eof_ = row >= n;
    if (target == cur_)
        return;
    cur_ = target;
    afterMove(true);
}

bool ClientDataset::locate(const QString& fieldName, const Variant& value, bool caseInsensitive)
{
    checkActive("locate");
    const Field& f = fieldByName(fieldName);
    const int fi = f.index();
    const int n = rowCount_;
    const Column& col = columns_[size_t(fi)];
    int found = -1;
    if (value.isNull()) {
        for (int pos = 0; pos < n && found < 0; ++pos)
            if (col.isNull(size_t(physical(pos))))
                found = pos;
    } else if (f.dataType() == FieldType::String) {
        const QString want = value.toString();
        const Qt::CaseSensitivity cs = caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive;
        // Each distinct text is compared once; the rows then match by index.
        std::vector<bool> matches(col.texts.size());
        for (size_t t = 0; t < col.texts.size(); ++t)
            matches[t] = col.texts[t].compare(want, cs) == 0;
        for (int pos = 0; pos < n && found < 0; ++pos) {
            const quint32 t = col.text[size_t(physical(pos))];
            if (t != Column::kNullText && matches[t])
                found = pos;
        }
    } else {
        // The sought value is brought to the field's type; one that cannot be is found nowhere.
        Variant want;
        try {
            switch (f.dataType()) {
            case FieldType::Integer: want = Variant(value.toInt()); break;
            case FieldType::Float: want = Variant(value.toDouble()); break;
            case FieldType::Boolean: want = Variant(value.toBool()); break;
            case FieldType::DateTime: want = Variant(double(value.toDate().wholeDays())); break;
            case FieldType::String: break;
            }
        } catch (const Error&) {
            return false;
        }
        for (int pos = 0; pos < n && found < 0; ++pos) {
            const size_t r = size_t(physical(pos));
            if (col.isNull(r))
                continue;
            const Variant v = col.get(r);
            if (f.dataType() == FieldType::DateTime) {
                if (double(v.toDate().wholeDays()) == want.toDouble())
                    found = pos;
            } else if (f.dataType() == FieldType::Float) {
                if (v.toDouble() == want.toDouble())
                    found = pos;
            } else if (v == want) {
                found = pos;
            }
        }
    }
    if (found < 0)
        return false;
    postIfEditing();
    const bool moved = found != cur_;
    cur_ = found;
    bof_ = eof_ = false;
    afterMove(moved);
    return true;
}

// --- editing -------------------------------------------------------------------------------

void ClientDataset::edit()
{
    checkActive("edit");
    if (state_ == DatasetState::Edit)
        return;
    if (rowCount_ == 0 || cur_ < 0)
        throw Error(QStringLiteral("%1: não há registro para alterar.").arg(objectName()));
    editBuffer_ = rowValues(physical(cur_));
    setState(DatasetState::Edit);
}

void ClientDataset::post()
{
    if (state_ != DatasetState::Edit)
        return;
    const int phys = physical(cur_);
    bool keyChanged = false;
    if (!order_.empty()) {
        for (int f : indexFields_)
            if (compareValues((*editBuffer_)[size_t(f)], columns_[size_t(f)].get(size_t(phys))) != 0)
                keyChanged = true;
    }
    storeRow(phys, *editBuffer_);
    editBuffer_.reset();
    bool moved = false;
    if (keyChanged) {
        // Only this row may be out of place: take it out and put it back where its key belongs.
        order_.erase(order_.begin() + cur_);
        const int pos = positionOf(phys);
        order_.insert(order_.begin() + pos, phys);
        ++rowsVersion_;
        moved = pos != cur_;
        cur_ = pos;
    }
    state_ = DatasetState::Browse;
    notifyData();
    if (moved)
        notifyMove();
    notifyState();
}

void ClientDataset::cancel()
{
    if (state_ != DatasetState::Edit)
        return;
    editBuffer_.reset();
    state_ = DatasetState::Browse;
    notifyData();
    notifyState();
}

// --- controls ----------------------------------------------------------------------------------

void ClientDataset::disableControls()
{
    ++disableCount_;
}

void ClientDataset::enableControls()
{
    if (disableCount_ == 0)
        return; // unbalanced call: nothing to undo
    if (--disableCount_ > 0)
        return;
    const bool state = pendingState_, data = pendingDataChange_, move = pendingMove_;
    pendingState_ = pendingDataChange_ = pendingMove_ = false;
    if (state)
        emit stateChanged();
    if (data)
        emit dataChanged();
    if (move)
        emit currentChanged(recNo());
}

Variant ClientDataset::rawValue(int row, int field) const
{
    if (!active() || row < 0 || row >= rowCount_ || field < 0 || field >= int(fields_.size()))
        return Variant();
    if (state_ == DatasetState::Edit && editBuffer_ && row == cur_)
        return (*editBuffer_)[size_t(field)];
    return columns_[size_t(field)].get(size_t(physical(row)));
}

PacketRow ClientDataset::rowValues(int phys) const
{
    PacketRow row;
    row.reserve(columns_.size());
    for (const Column& c : columns_)
        row.push_back(c.get(size_t(phys)));
    return row;
}

void ClientDataset::storeRow(int phys, const PacketRow& row)
{
    for (size_t f = 0; f < columns_.size(); ++f)
        columns_[f].set(size_t(phys), row[f]);
}

// Orders two rows by one field as compareValues orders their values.
int ClientDataset::compareCells(int field, int a, int b) const
{
    const Column& c = columns_[size_t(field)];
    const bool na = c.isNull(size_t(a)), nb = c.isNull(size_t(b));
    if (na || nb)
        return (na ? 0 : 1) - (nb ? 0 : 1);
    switch (c.type) {
    case FieldType::String: return c.texts[c.text[size_t(a)]].compare(c.texts[c.text[size_t(b)]]);
    case FieldType::Integer: {
        const qint64 x = c.ints[size_t(a)], y = c.ints[size_t(b)];
        return x < y ? -1 : x > y ? 1 : 0;
    }
    case FieldType::Float:
    case FieldType::DateTime: {
        const double x = c.nums[size_t(a)], y = c.nums[size_t(b)];
        return x < y ? -1 : x > y ? 1 : 0;
    }
    case FieldType::Boolean: return int(bool(c.bits[size_t(a)])) - int(bool(c.bits[size_t(b)]));
    }
    return 0;
}

Variant ClientDataset::currentValue(int field) const
{
    const int row = displayRow_ >= 0 ? displayRow_ : cur_;
    return rawValue(row, field);
}

ClientDataset::DisplayRow::DisplayRow(const ClientDataset& ds, int row) : ds_(ds), saved_(ds.displayRow_)
{
    ds.displayRow_ = row < 0 ? -1 : row;
}

ClientDataset::DisplayRow::~DisplayRow()
{
    ds_.displayRow_ = saved_;
}

// --- DataSource --------------------------------------------------------------------------------

DataSource::DataSource(const QString& name, QObject* parent) : QObject(parent)
{
    setObjectName(name);
}

DataSource::~DataSource()
{
    if (ds_)
        std::erase(ds_->sources_, this);
}

void DataSource::setDataSet(ClientDataset* ds)
{
    if (ds == ds_)
        return;
    if (ds_)
        std::erase(ds_->sources_, this);
    ds_ = ds;
    if (ds_)
        ds_->sources_.push_back(this);
    emit dataSetChanged();
}

// --- formatting ----------------------------------------------------------------------------------

QString formatFloat(double v, const QString& mask)
{
    if (!std::isfinite(v))
        return QString::number(v);
    const QString section = mask.section(u';', 0, 0);
    // Split the picture into literal prefix, number picture and literal suffix.
    qsizetype firstPh = -1, lastPh = -1;
    for (qsizetype i = 0; i < section.size(); ++i) {
        const QChar c = section.at(i);
        if (c == u'0' || c == u'#' || c == u'.' || c == u',') {
            if (firstPh < 0)
                firstPh = i;
            lastPh = i;
        }
    }
    if (firstPh < 0)
        return section;
    const QString prefix = section.left(firstPh);
    const QString suffix = section.mid(lastPh + 1);
    const QString pic = section.mid(firstPh, lastPh - firstPh + 1);
    const qsizetype dot = pic.indexOf(u'.');
    const QString intPic = dot < 0 ? pic : pic.left(dot);
    const QString fracPic = dot < 0 ? QString() : pic.mid(dot + 1);
    const bool grouping = intPic.contains(u',');
    const int minInt = int(intPic.count(u'0'));
    const int minDec = int(fracPic.count(u'0'));
    const int maxDec = minDec + int(fracPic.count(u'#'));

    // Round half away from zero on the decimal digits of the value taken to 15
    // significant digits, so 2.675 shows as 2,68 as the user expects.
    const double a = std::fabs(v);
    QString digits;
    int pointPos = 1;
    if (a != 0) {
        const QString e = QString::number(a, 'e', 14); // d.dddddddddddddde±XX
        digits = e.left(1) + e.mid(2, 14);
        pointPos = e.mid(e.indexOf(u'e') + 1).toInt() + 1;
    } else {
        digits = QStringLiteral("0");
    }
    const int keep = pointPos + maxDec;
    if (keep < 0) {
        digits = QStringLiteral("0");
        pointPos = 1;
    } else if (keep < digits.size()) {
        const bool up = digits.at(keep) >= u'5';
        digits.truncate(keep);
        if (up) {
            int i = keep - 1;
            while (i >= 0 && digits.at(i) == u'9') {
                digits[i] = u'0';
                --i;
            }
            if (i >= 0) {
                digits[i] = QChar(digits.at(i).unicode() + 1);
            } else {
                digits.prepend(u'1');
                ++pointPos;
            }
        }
        if (digits.isEmpty()) {
            digits = QStringLiteral("0");
            pointPos = 1;
        }
    }
    QString intPart, frac;
    if (pointPos <= 0) {
        intPart = QString();
        frac = QString(-pointPos, u'0') + digits;
    } else if (pointPos >= digits.size()) {
        intPart = digits + QString(pointPos - digits.size(), u'0');
    } else {
        intPart = digits.left(pointPos);
        frac = digits.mid(pointPos);
    }
    if (frac.size() > maxDec)
        frac.truncate(maxDec);
    while (frac.size() > minDec && frac.endsWith(u'0'))
        frac.chop(1);
    while (frac.size() < minDec)
        frac += u'0';
    // Leading zeros of the integer part are dropped, then padded to the picture.
    qsizetype nz = 0;
    while (nz < intPart.size() && intPart.at(nz) == u'0')
        ++nz;
    intPart = intPart.mid(nz);
    while (intPart.size() < minInt)
        intPart.prepend(u'0');
    if (grouping && intPart.size() > 3) {
        QString g;
        const qsizetype n = intPart.size();
        for (qsizetype i = 0; i < n; ++i) {
            if (i > 0 && (n - i) % 3 == 0)
                g += u'.';
            g += intPart.at(i);
        }
        intPart = g;
    }
    bool zero = true;
    for (QChar c : intPart + frac)
        if (c != u'0' && c != u'.')
            zero = false;
    QString out = intPart;
    if (!frac.isEmpty())
        out += u',' + frac;
    if (out.isEmpty())
        out = QStringLiteral("0");
    return (v < 0 && !zero ? QStringLiteral("-") : QString()) + prefix + out + suffix;
}

} // namespace core
