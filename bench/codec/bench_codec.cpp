// Packet codec benchmark: 100,000 rows of 19 columns (the shape of a large
// entry list), encoded and decoded by the streaming codec and by
// QJsonDocument, then loaded into a client dataset and indexed.
//
//   bench_codec [rows] [repeats]
#include "client/clientdataset.h"
#include "core/datapacket.h"
#include "client/httptransport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <rapidjson/encodedstream.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#ifdef EXP_HAVE_SIMDJSON
#include <simdjson.h>
#endif

#include <charconv>
#include <cmath>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace core;

namespace {

DataPacket makePacket(int rows)
{
    QList<FieldDef> f = {{"IDCHECK", FieldType::String, 1, true}, {"CDFILIAL", FieldType::String, 4, true},
                         {"NRLANCTONF", FieldType::String, 10},   {"DTENTRSAID", FieldType::DateTime},
                         {"NREXPEDICAO", FieldType::String, 10},  {"CDROTA", FieldType::String, 4},
                         {"NMROTA", FieldType::String, 40},       {"NRNOTAFISC", FieldType::String, 9},
                         {"CDSERIE", FieldType::String, 3},       {"IDSTATUS", FieldType::String, 1},
                         {"IDSTATUSNFE", FieldType::String, 1},   {"CDCLIENTE", FieldType::String, 10},
                         {"NMCLIENTE", FieldType::String, 60},    {"VRTOTALNF", FieldType::Float},
                         {"QTITENS", FieldType::Integer},         {"VRDESCONTO", FieldType::Float},
                         {"NRLANCESTQ", FieldType::String, 10},   {"DSOBSERV", FieldType::String, 80},
                         {"DTEMISSAO", FieldType::DateTime}};
    DataPacket p(f);
    p.rows().reserve(size_t(rows));
    for (int i = 0; i < rows; ++i) {
        const QString n = QString::number(i).rightJustified(10, u'0');
        p.rows().push_back(
            {i % 7 ? "N" : "S", "0001", n, Date{double(45000 + i % 30)},
             QString::number(i / 40).rightJustified(10, u'0'), QString::number(i % 50).rightJustified(4, u'0'),
             QStringLiteral("Rota %1 - Região Metropolitana").arg(i % 50), QString::number(100000 + i), "1", "N",
             i % 11 ? "A" : "R", QString::number(i % 3000).rightJustified(10, u'0'),
             QStringLiteral("Comércio de Alimentos São João Ltda %1").arg(i % 3000), 1234.56 + i * 0.37,
             qint64(1 + i % 25), i % 5 ? Variant() : Variant(12.5), n,
             i % 9 ? QString() : QStringLiteral("Entrega \"urgente\" após 18h"), Date{double(45000 + i % 30) + 0.5}});
    }
    return p;
}

// The document-tree way, for comparison.
QByteArray encodeWithDocument(const DataPacket& p)
{
    return QJsonDocument(codec::variantToJson(Variant(p)).toObject()).toJson(QJsonDocument::Compact);
}

DataPacket decodeWithDocument(const QByteArray& json)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object().value("packet").toObject();
    QList<FieldDef> fields;
    for (const QJsonValue& f : o.value("fields").toArray()) {
        const QJsonObject fo = f.toObject();
        fields.append({fo.value("name").toString(), fieldTypeFromName(fo.value("type").toString()),
                       fo.value("size").toInt(), fo.value("fixed").toBool(), fo.value("required").toBool()});
    }
    DataPacket p(fields);
    const QJsonArray rows = o.value("rows").toArray();
    p.rows().reserve(size_t(rows.size()));
    for (const QJsonValue& r : rows) {
        const QJsonArray a = r.toArray();
        PacketRow row;
        row.reserve(size_t(fields.size()));
        for (int i = 0; i < fields.size(); ++i) {
            const QJsonValue v = a.at(i);
            if (v.isNull()) {
                row.emplace_back();
                continue;
            }
            switch (fields[i].type) {
            case FieldType::String: row.emplace_back(v.toString()); break;
            case FieldType::Integer: row.emplace_back(v.toInteger()); break;
            case FieldType::Float: row.emplace_back(v.toDouble()); break;
            case FieldType::Boolean: row.emplace_back(v.toBool()); break;
            case FieldType::DateTime: row.emplace_back(Date{v.toDouble()}); break;
            }
        }
        p.rows().push_back(std::move(row));
    }
    return p;
}

// RapidJSON's SAX reader building the same rows, with the checks it can be
// given: UTF-8 validated, numbers as their text (so integers are read exactly
// and a fraction in an integer field is refused), the type, width, size and
// required flag of every value, nesting limited. Only the rows are read here;
// the field list is taken from the packet encoded above.
class RapidRows : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, RapidRows> {
public:
    explicit RapidRows(const QList<FieldDef>& fields) : fields_(fields) { }
    std::vector<PacketRow> rows;
    QString error;

    bool StartArray()
    {
        if (++depth_ == 2) {
            row_.clear();
            row_.reserve(size_t(fields_.size()));
            return true;
        }
        return depth_ == 1 || fail("valor composto numa linha");
    }
    bool EndArray(rapidjson::SizeType)
    {
        if (depth_-- == 2) {
            if (int(row_.size()) != fields_.size())
                return fail("largura de linha");
            rows.push_back(std::move(row_));
            row_ = PacketRow();
        }
        return true;
    }
    bool StartObject() { return fail("objeto numa linha"); }
    bool Null()
    {
        const FieldDef* f = next();
        if (!f || f->required)
            return fail("nulo");
        row_.emplace_back();
        return true;
    }
    bool Bool(bool b)
    {
        const FieldDef* f = next();
        if (!f || f->type != FieldType::Boolean)
            return fail("tipo");
        row_.emplace_back(b);
        return true;
    }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool)
    {
        const FieldDef* f = next();
        if (!f)
            return fail("largura");
        if (f->type == FieldType::Integer) {
            qint64 v = 0;
            auto r = std::from_chars(s, s + n, v);
            if (r.ec != std::errc() || r.ptr != s + n)
                return fail("inteiro");
            row_.emplace_back(v);
            return true;
        }
        double d = 0;
        auto r = std::from_chars(s, s + n, d);
        if (r.ec != std::errc() || r.ptr != s + n || !std::isfinite(d))
            return fail("número");
        if (f->type == FieldType::Float)
            row_.emplace_back(d);
        else if (f->type == FieldType::DateTime)
            row_.emplace_back(Date{d});
        else
            return fail("tipo");
        return true;
    }
    bool String(const char* s, rapidjson::SizeType n, bool)
    {
        const FieldDef* f = next();
        if (!f || f->type != FieldType::String)
            return fail("tipo");
        QString t = QString::fromUtf8(s, qsizetype(n));
        if (f->size > 0 && t.size() > f->size)
            return fail("tamanho");
        row_.emplace_back(std::move(t));
        return true;
    }

private:
    const FieldDef* next()
    {
        return depth_ == 2 && int(row_.size()) < fields_.size() ? &fields_[int(row_.size())] : nullptr;
    }
    bool fail(const char* why)
    {
        error = QString::fromUtf8(why);
        return false;
    }
    const QList<FieldDef>& fields_;
    PacketRow row_;
    int depth_ = 0;
};

std::vector<PacketRow> decodeRowsWithRapidJson(const QByteArray& rowsJson, const QList<FieldDef>& fields)
{
    RapidRows h(fields);
    rapidjson::Reader reader;
    rapidjson::MemoryStream ms(rowsJson.constData(), size_t(rowsJson.size()));
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> in(ms);
    constexpr unsigned flags =
        rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseIterativeFlag;
    if (!reader.Parse<flags>(in, h))
        throw Error(QStringLiteral("RapidJSON: %1").arg(h.error));
    return std::move(h.rows);
}

#ifdef EXP_HAVE_SIMDJSON
// simdjson's On-Demand reader building the same rows with the same checks as
// the RapidJSON handler: UTF-8 validated (simdjson checks the whole input
// first), numbers from their text, type, width, size and required flag of
// every value, no composite value in a row, nesting limited to 64.
std::vector<PacketRow> decodeRowsWithSimdjson(simdjson::ondemand::parser& parser, const simdjson::padded_string& json,
                                              const QList<FieldDef>& fields)
{
    auto fail = [](const char* why) { throw Error(QStringLiteral("simdjson: %1").arg(QString::fromUtf8(why))); };
    std::vector<PacketRow> rows;
    simdjson::ondemand::document doc = parser.iterate(json);
    for (auto rowValue : doc.get_array()) {
        simdjson::ondemand::array row;
        if (rowValue.get_array().get(row))
            fail("linha");
        PacketRow out;
        out.reserve(size_t(fields.size()));
        for (auto v : row) {
            if (int(out.size()) >= fields.size())
                fail("largura");
            const FieldDef& f = fields[int(out.size())];
            simdjson::ondemand::json_type t;
            if (v.type().get(t))
                fail("json");
            switch (t) {
            case simdjson::ondemand::json_type::null:
                if (f.required)
                    fail("nulo");
                out.emplace_back();
                break;
            case simdjson::ondemand::json_type::boolean: {
                bool b = false;
                if (f.type != FieldType::Boolean || v.get_bool().get(b))
                    fail("tipo");
                out.emplace_back(b);
                break;
            }
            case simdjson::ondemand::json_type::number: {
                const std::string_view raw = v.raw_json_token();
                size_t n = raw.size();
                while (n && (raw[n - 1] == ' ' || raw[n - 1] == '\n' || raw[n - 1] == '\r' || raw[n - 1] == '\t'))
                    --n;
                const char* s = raw.data();
                if (f.type == FieldType::Integer) {
                    qint64 x = 0;
                    auto r = std::from_chars(s, s + n, x);
                    if (r.ec != std::errc() || r.ptr != s + n)
                        fail("inteiro");
                    out.emplace_back(x);
                } else {
                    double d = 0;
                    auto r = std::from_chars(s, s + n, d);
                    if (r.ec != std::errc() || r.ptr != s + n || !std::isfinite(d))
                        fail("número");
                    if (f.type == FieldType::Float)
                        out.emplace_back(d);
                    else if (f.type == FieldType::DateTime)
                        out.emplace_back(Date{d});
                    else
                        fail("tipo");
                }
                break;
            }
            case simdjson::ondemand::json_type::string: {
                std::string_view sv;
                if (f.type != FieldType::String || v.get_string().get(sv))
                    fail("tipo");
                QString text = QString::fromUtf8(sv.data(), qsizetype(sv.size()));
                if (f.size > 0 && text.size() > f.size)
                    fail("tamanho");
                out.emplace_back(std::move(text));
                break;
            }
            default: fail("valor composto numa linha");
            }
        }
        if (int(out.size()) != fields.size())
            fail("largura de linha");
        rows.push_back(std::move(out));
    }
    return rows;
}
#endif

double best(int repeats, const std::function<void()>& f)
{
    double b = 1e18;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        b = std::min(b, t.nsecsElapsed() / 1e6);
    }
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? atoi(argv[1]) : 100000;
    const int repeats = argc > 2 ? atoi(argv[2]) : 5;
    const DataPacket p = makePacket(rows);

    QByteArray ours, theirs;
    const double encOurs = best(repeats, [&] { ours = codec::encodePacket(p); });
    const double encDoc = best(repeats, [&] { theirs = encodeWithDocument(p); });
    DataPacket back;
    const double decOurs = best(repeats, [&] { back = codec::decodePacket(ours); });
    const QByteArray wrapped = "{\"packet\":" + ours + "}";
    DataPacket backDoc;
    const double decDoc = best(repeats, [&] { backDoc = decodeWithDocument(wrapped); });
    // The answer as it travels, read in 16 KB pieces while it arrives.
    const QByteArray answer = "{\"payload\":" + wrapped + ",\"refs\":[],\"status\":\"ok\"}";
    const CallRequest listCall{"Exp01800.rdmCancelNota", "GetLanctoNF", {}, {}};
    Variant backStream;
    const double decStream = best(repeats, [&] {
        HttpTransport::AnswerReader r(listCall);
        for (qsizetype at = 0; at < answer.size(); at += 16384)
            r.feed(answer.constData() + at, std::min<qsizetype>(16384, answer.size() - at));
        backStream = r.finish(200).result.payload;
    });
    // The rows alone with RapidJSON (the field list is a short text either way).
    const qsizetype rowsAt = ours.indexOf("\"rows\":") + 7;
    const QByteArray rowsOnly = ours.mid(rowsAt, ours.size() - rowsAt - 1);
    std::vector<PacketRow> rapidRows;
    const double decRapid = best(repeats, [&] { rapidRows = decodeRowsWithRapidJson(rowsOnly, p.fields()); });
    if (!(rapidRows == p.rows())) {
        std::fprintf(stderr, "RapidJSON rows differ\n");
        return 1;
    }
#ifdef EXP_HAVE_SIMDJSON
    // simdjson reads from a copy with its padding after the text (a socket
    // buffer could be given that room); the copy is not timed.
    const simdjson::padded_string padded(rowsOnly.constData(), size_t(rowsOnly.size()));
    simdjson::ondemand::parser simdParser;
    if (simdParser.allocate(padded.size(), 64))
        return 1;
    std::vector<PacketRow> simdRows;
    const double decSimd = best(repeats, [&] { simdRows = decodeRowsWithSimdjson(simdParser, padded, p.fields()); });
    if (!(simdRows == p.rows())) {
        std::fprintf(stderr, "simdjson rows differ\n");
        return 1;
    }
#endif
    if (!(back == p) || !(backDoc == p) || !(backStream.packet() == p)) {
        std::fprintf(stderr, "round trip mismatch\n");
        return 1;
    }

    ClientDataset ds("cdsLanctoNF");
    for (const FieldDef& f : p.fields())
        ds.addField(f);
    const double load = best(repeats, [&] { ds.loadFromPacket(back); });
    double index = 1e18;
    for (int i = 0; i < repeats; ++i) {
        ds.setIndexFieldNames({});
        index = std::min(index, best(1, [&] { ds.setIndexFieldNames("DTENTRSAID; NRLANCTONF; NREXPEDICAO"); }));
    }
    const double walk = best(repeats, [&] {
        ds.disableControls();
        ds.first();
        while (!ds.eof()) {
            ds.edit();
            ds.fieldByName("IDCHECK").setAsString("S");
            ds.post();
            ds.next();
        }
        ds.enableControls();
    });

    std::printf("rows %d, columns %d, JSON %.1f MB (QJsonDocument output %.1f MB), best of %d\n", rows,
                int(p.fields().size()), ours.size() / 1e6, theirs.size() / 1e6, repeats);
    std::printf("%-44s %9.1f ms\n", "encode, streaming codec", encOurs);
    std::printf("%-44s %9.1f ms\n", "encode, QJsonDocument (tree + toJson)", encDoc);
    std::printf("%-44s %9.1f ms\n", "decode to rows, streaming codec", decOurs);
    std::printf("%-44s %9.1f ms\n", "decode to rows, QJsonDocument (fromJson + rows)", decDoc);
    std::printf("%-44s %9.1f ms\n", "answer read in 16 KB pieces (EnvelopeReader)", decStream);
    std::printf("%-44s %9.1f ms\n", "rows only, RapidJSON SAX (checked as above)", decRapid);
#ifdef EXP_HAVE_SIMDJSON
    std::printf("%-44s %9.1f ms\n", "rows only, simdjson On-Demand (checked alike)", decSimd);
#endif
    std::printf("%-44s %9.1f ms\n", "ClientDataset::loadFromPacket", load);
    std::printf("%-44s %9.1f ms\n", "index on 3 fields", index);
    std::printf("%-44s %9.1f ms\n", "walk with edit/post of every row (indexed)", walk);
    return 0;
}
