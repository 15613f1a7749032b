// Packet codec benchmark: 100,000 rows of 19 columns (the shape of a large
// entry list), encoded and decoded by the streaming codec and by
// QJsonDocument, then loaded into a client dataset and indexed.
//
//   bench_codec [rows] [repeats]
#include "core/clientdataset.h"
#include "core/datapacket.h"
#include "core/httptransport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace core;

namespace {

DataPacket makePacket(int rows)
{
    QList<FieldDef> f = {
        {"IDCHECK", FieldType::String, 1, true},  {"CDFILIAL", FieldType::String, 4, true},
        {"NRLANCTONF", FieldType::String, 10},    {"DTENTRSAID", FieldType::DateTime},
        {"NREXPEDICAO", FieldType::String, 10},   {"CDROTA", FieldType::String, 4},
        {"NMROTA", FieldType::String, 40},        {"NRNOTAFISC", FieldType::String, 9},
        {"CDSERIE", FieldType::String, 3},        {"IDSTATUS", FieldType::String, 1},
        {"IDSTATUSNFE", FieldType::String, 1},    {"CDCLIENTE", FieldType::String, 10},
        {"NMCLIENTE", FieldType::String, 60},     {"VRTOTALNF", FieldType::Float},
        {"QTITENS", FieldType::Integer},          {"VRDESCONTO", FieldType::Float},
        {"NRLANCESTQ", FieldType::String, 10},    {"DSOBSERV", FieldType::String, 80},
        {"DTEMISSAO", FieldType::DateTime}};
    DataPacket p(f);
    p.rows().reserve(size_t(rows));
    for (int i = 0; i < rows; ++i) {
        const QString n = QString::number(i).rightJustified(10, u'0');
        p.rows().push_back({i % 7 ? "N" : "S", "0001", n, Date{double(45000 + i % 30)},
                            QString::number(i / 40).rightJustified(10, u'0'), QString::number(i % 50).rightJustified(4, u'0'),
                            QStringLiteral("Rota %1 - Região Metropolitana").arg(i % 50), QString::number(100000 + i),
                            "1", "N", i % 11 ? "A" : "R", QString::number(i % 3000).rightJustified(10, u'0'),
                            QStringLiteral("Comércio de Alimentos São João Ltda %1").arg(i % 3000),
                            1234.56 + i * 0.37, qint64(1 + i % 25), i % 5 ? Variant() : Variant(12.5),
                            n, i % 9 ? QString() : QStringLiteral("Entrega \"urgente\" após 18h"),
                            Date{double(45000 + i % 30) + 0.5}});
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
    std::printf("%-44s %9.1f ms\n", "ClientDataset::loadFromPacket", load);
    std::printf("%-44s %9.1f ms\n", "index on 3 fields", index);
    std::printf("%-44s %9.1f ms\n", "walk with edit/post of every row (indexed)", walk);
    return 0;
}
