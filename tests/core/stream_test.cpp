// Envelopes read while they arrive: the rows of a packet payload or packet
// argument are decoded piece by piece, and the outcome is the same as when
// the whole text is decoded at once, whatever the pieces.
#include "core/datapacket.h"
#include "core/errors.h"
#include "client/httptransport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace core;

namespace {

const CallRequest kList{QStringLiteral("Exp01800.rdmCancelNota"), QStringLiteral("GetLanctoNF"), {}, {}};

DataPacket listPacket(int rows)
{
    DataPacket p({{"IDCHECK", FieldType::String, 1, true, false},
                  {"NMRAZSOCCLIE", FieldType::String, 50, false, true},
                  {"DTENTRSAID", FieldType::DateTime},
                  {"NRVERSAO", FieldType::Integer},
                  {"VRTOTAL", FieldType::Float},
                  {"BOATIVO", FieldType::Boolean}});
    for (int r = 0; r < rows; ++r)
        p.appendRow({r % 3 ? "N" : "S", QStringLiteral("Cliente \"%1\" ação\\ \u00e7 \U0001F600 ]}[{,").arg(r),
                     r % 7 ? Variant(Date{46000.0 + r % 5}) : Variant(), qint64(r) * 1000003,
                     r % 5 ? Variant(r * 0.25) : Variant(), r % 2 == 0});
    return p;
}

/// The answer as the server streams it: status last.
QByteArray streamedAnswer(const DataPacket& p)
{
    return "{\"payload\":{\"packet\":" + codec::encodePacket(p) + "},\"refs\":[],\"status\":\"ok\"}";
}

/// Feeds `body` in pieces of `piece` bytes (0: in one piece).
CallResponse readInPieces(const QByteArray& body, qsizetype piece, int http = 200)
{
    HttpTransport::AnswerReader r(kList);
    if (piece <= 0) {
        r.feed(body.constData(), body.size());
    } else {
        for (qsizetype at = 0; at < body.size(); at += piece)
            if (!r.feed(body.constData() + at, std::min(piece, body.size() - at)))
                break;
    }
    return r.finish(http);
}

QString connectionError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ConnectionError& e) {
        return e.message();
    }
    ADD_FAILURE() << "accepted";
    return {};
}

} // namespace

TEST(StreamTest, SameRowsWhetherSentInOnePieceOrInPiecesOfAnySize)
{
    const DataPacket p = listPacket(300);
    const QByteArray plain = "{\"status\":\"ok\",\"payload\":{\"packet\":" + codec::encodePacket(p) + "},\"refs\":[]}";
    const QByteArray spaced = " {\n \"payload\" : { \"packet\" :\t" + codec::encodePacket(p).replace("],[", "] ,\n [")
        + " } , \"status\" : \"ok\" }\n";
    for (const QByteArray& body : {streamedAnswer(p), plain, spaced}) {
        for (qsizetype piece : {0, 1, 2, 3, 5, 13, 64, 1000, 4096, 65536}) {
            const CallResponse r = readInPieces(body, piece);
            ASSERT_TRUE(r.result.ok);
            EXPECT_EQ(r.result.payload.packet(), p) << "piece " << piece;
        }
    }
    // A packet that is not streamed (rows before fields, or inside a list) reads the same.
    const QByteArray rowsFirst =
        "{\"status\":\"ok\",\"payload\":{\"packet\":{\"rows\":[[\"S\",\"x\",null,1,null,true]],"
        "\"fields\":[{\"name\":\"IDCHECK\",\"type\":\"string\",\"size\":1,\"fixed\":true},"
        "{\"name\":\"NMRAZSOCCLIE\",\"type\":\"string\",\"size\":50},"
        "{\"name\":\"DTENTRSAID\",\"type\":\"datetime\"},{\"name\":\"NRVERSAO\",\"type\":\"integer\"},"
        "{\"name\":\"VRTOTAL\",\"type\":\"float\"},{\"name\":\"BOATIVO\",\"type\":\"boolean\"}]}}}";
    for (qsizetype piece : {0, 1, 7})
        EXPECT_EQ(readInPieces(rowsFirst, piece).result.payload.packet().rowCount(), 1);
}

/// A tick-all's answer: the list, the replicated documents, the count.
QByteArray listPayloadAnswer(const DataPacket& list, const DataPacket& docs, qint64 count)
{
    return "{\"payload\":[{\"packet\":" + codec::encodePacket(list) + "},{\"packet\":" + codec::encodePacket(docs)
        + "},{\"int\":" + QByteArray::number(count) + "}],\"refs\":[],\"status\":\"ok\"}";
}

TEST(StreamTest, PacketsInAPayloadListAreReadAsTheyArriveWithTheSameOutcome)
{
    const DataPacket list = listPacket(400), docs = listPacket(7);
    const QByteArray body = listPayloadAnswer(list, docs, 133);
    for (qsizetype piece : {0, 1, 3, 13, 4096, 65536}) {
        const CallResponse a = readInPieces(body, piece);
        ASSERT_TRUE(a.result.ok);
        ASSERT_EQ(a.result.payload.count(), 3);
        EXPECT_EQ(a.result.payload[0].packet(), list) << "piece " << piece;
        EXPECT_EQ(a.result.payload[1].packet(), docs) << "piece " << piece;
        EXPECT_EQ(a.result.payload[2].toInt(), 133);
    }
    // The rows really are read on the way: the text kept is the envelope's.
    codec::EnvelopeReader reader;
    reader.feed(body.constData(), body.size());
    EXPECT_LT(reader.envelope().size(), 2000);
    EXPECT_TRUE(reader.streamed(codec::EnvelopeReader::payloadElement(0)));
    EXPECT_TRUE(reader.streamed(codec::EnvelopeReader::payloadElement(1)));
    EXPECT_FALSE(reader.streamed(codec::EnvelopeReader::kPayload));

    // Cut anywhere, or a malformed row late in the first packet: refused whole.
    const QByteArray small = listPayloadAnswer(listPacket(3), listPacket(1), 1);
    for (qsizetype cut = 0; cut < small.size(); ++cut)
        for (qsizetype piece : {0, 5})
            EXPECT_FALSE(connectionError([&] { readInPieces(small.left(cut), piece); }).isEmpty()) << cut;
    QByteArray bad = listPayloadAnswer(listPacket(3000), docs, 1);
    const qsizetype at = bad.indexOf("[\"N\",\"Cliente \\\"2900\\\"");
    ASSERT_GT(at, 0);
    bad.replace(at + 5, 1, "1234,\"");
    for (qsizetype piece : {0, 7, 4096}) {
        const QString why = connectionError([&] { readInPieces(bad, piece); });
        EXPECT_TRUE(why.contains(QStringLiteral("linha 2901"))) << why.toStdString();
    }
    // Rows in a list element that is not a packet variant are refused.
    const QByteArray notPacket =
        "{\"payload\":[{\"int\":" + codec::encodePacket(listPacket(2)) + "}],\"status\":\"ok\"}";
    EXPECT_FALSE(connectionError([&] { readInPieces(notPacket, 4); }).isEmpty());
}

TEST(StreamTest, AnswerCutOffAnywhereIsRefusedWhole)
{
    const QByteArray body = streamedAnswer(listPacket(6));
    for (qsizetype cut = 0; cut < body.size(); ++cut) {
        const QByteArray part = body.left(cut);
        for (qsizetype piece : {0, 3})
            EXPECT_FALSE(connectionError([&] { readInPieces(part, piece); }).isEmpty()) << cut;
    }
}

TEST(StreamTest, MalformedRowLateInALongPacketRefusesTheWholeAnswer)
{
    QByteArray body = streamedAnswer(listPacket(20000));
    // Row 19,500: a number where the name goes.
    const QByteArray row = "[\"N\",\"Cliente \\\"19499\\\"";
    const qsizetype at = body.indexOf(row);
    ASSERT_GT(at, body.size() / 2);
    body.replace(at + 5, 1, "1234,\"");
    for (qsizetype piece : {0, 4096, 65536}) {
        const QString why = connectionError([&] { readInPieces(body, piece); });
        EXPECT_TRUE(why.contains(QStringLiteral("linha 19500"))) << why.toStdString();
    }
    // A row too long, a value of the wrong type, a composite value, a bad separator.
    const QByteArray head = "{\"payload\":{\"packet\":" + codec::encodePacket(listPacket(2)).chopped(2);
    for (const QByteArray& tail :
         {QByteArray(",[\"S\",\"x\",null,1,null,true,1]]}}"), QByteArray(",[\"S\",\"x\",null,1.5,null,true]]}}"),
          QByteArray(",[\"S\",[\"x\"],null,1,null,true]]}}"), QByteArray(",[\"S\",\"x\",null,1,null,true],]}}"),
          QByteArray(" [\"S\",\"x\",null,1,null,true]]}}"), QByteArray(",null]}}")}) {
        for (qsizetype piece : {0, 1, 9})
            EXPECT_FALSE(connectionError([&] { readInPieces(head + tail + ",\"status\":\"ok\"}", piece); }).isEmpty())
                << tail.constData();
    }
}

TEST(StreamTest, FailureAfterTheRowsIsRaisedAndTheRowsAreDropped)
{
    const QByteArray body = "{\"payload\":{\"packet\":" + codec::encodePacket(listPacket(50))
        + "},\"status\":\"raised\",\"message\":\"Falha ao ler a linha 51\"}";
    for (qsizetype piece : {0, 17}) {
        try {
            readInPieces(body, piece);
            ADD_FAILURE() << "accepted";
        } catch (const ServerError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("Falha ao ler a linha 51"));
        }
    }
    // Without the trailing status the answer is incomplete.
    const QByteArray noStatus = "{\"payload\":{\"packet\":" + codec::encodePacket(listPacket(5)) + "},\"refs\":[]}";
    EXPECT_TRUE(connectionError([&] { readInPieces(noStatus, 8); }).contains(QStringLiteral("status")));
}

TEST(StreamTest, EnvelopeRulesStillHoldAroundStreamedRows)
{
    const QByteArray packet = codec::encodePacket(listPacket(4));
    const QByteArray bad[] = {
        // a repeated member around, or inside, the streamed packet
        "{\"payload\":{\"packet\":" + packet + "},\"payload\":null,\"status\":\"ok\"}",
        "{\"payload\":{\"packet\":" + packet.chopped(1) + ",\"rows\":[]}},\"status\":\"ok\"}",
        "{\"payload\":{\"packet\":" + packet + ",\"int\":1},\"status\":\"ok\"}",
        // text after the envelope, a trailing comma in the row list
        "{\"payload\":{\"packet\":" + packet + "},\"status\":\"ok\"} x",
        "{\"payload\":{\"packet\":" + packet.chopped(2) + ",]}},\"status\":\"ok\"}",
    };
    for (const QByteArray& body : bad)
        for (qsizetype piece : {0, 6})
            EXPECT_FALSE(connectionError([&] { readInPieces(body, piece); }).isEmpty()) << body.left(80).constData();
    // Member names written with escapes name the same members.
    const QByteArray escaped = "{\"p\\u0061yload\":{\"packet\":" + packet + "},\"status\":\"ok\"}";
    EXPECT_EQ(readInPieces(escaped, 3).result.payload.packet(), listPacket(4));
}

TEST(StreamTest, DamagedAnswersGiveWhatTheWholeTextDecoderGives)
{
    for (const QByteArray& good : {streamedAnswer(listPacket(8)), listPayloadAnswer(listPacket(5), listPacket(2), 3)}) {
        quint32 seed = 777;
        auto rnd = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        const char alphabet[] = "{}[]\",:\\ nulltrue0123456789.-e\x01\xc3\xa7";
        for (int i = 0; i < 2000; ++i) {
            QByteArray bad = good;
            const int pos = int(rnd() % quint32(bad.size()));
            switch (rnd() % 3) {
            case 0: bad[pos] = alphabet[rnd() % (sizeof alphabet - 1)]; break;
            case 1: bad.remove(pos, 1 + int(rnd() % 3)); break;
            default: bad.insert(pos, alphabet[rnd() % (sizeof alphabet - 1)]); break;
            }
            // The reference: the envelope split whole, the payload decoded whole.
            bool refOk = true;
            Variant refPayload;
            try {
                const codec::RawObject m = codec::splitObject(bad);
                const QByteArray* s = m.find(u"status");
                if (!s || codec::decodeVariant(*s) != Variant("ok"))
                    refOk = false;
                else if (const QByteArray* p = m.find(u"payload"))
                    refPayload = codec::decodeVariant(*p);
                if (const QByteArray* r = m.find(u"refs")) {
                    const Variant refs = codec::decodeVariant(*r);
                    if (!refs.isNull() && !refs.isArray())
                        refOk = false;
                }
            } catch (const Error&) {
                refOk = false;
            }
            const qsizetype piece = 1 + qsizetype(rnd() % 40);
            try {
                const CallResponse r = readInPieces(bad, piece);
                EXPECT_EQ(r.result.ok, refOk) << bad.constData();
                if (r.result.ok) {
                    EXPECT_EQ(r.result.payload, refPayload) << bad.constData();
                }
            } catch (const Error&) {
                EXPECT_FALSE(refOk) << bad.constData();
            }
        }
    }
}

TEST(StreamTest, RequestArgumentsAreReadWhileTheyArrive)
{
    const DataPacket p = listPacket(120);
    const QByteArray body = HttpTransport::encodeRequest(
        {QStringLiteral("Exp01800.rdmCancelNota"), QStringLiteral("CancelaNota"), {"0001", Variant(p), "x"}, {}});
    for (qsizetype piece : {1, 11, 4096}) {
        codec::EnvelopeReader r;
        for (qsizetype at = 0; at < body.size(); at += piece)
            r.feed(body.constData() + at, std::min(piece, body.size() - at));
        EXPECT_EQ(r.size(), body.size());
        EXPECT_TRUE(r.streamed(1));
        EXPECT_FALSE(r.streamed(0));
        EXPECT_FALSE(r.streamed(codec::EnvelopeReader::kPayload));
        EXPECT_LT(r.envelope().size(), 2000); // the rows were not kept as text
        const codec::RawObject m = codec::splitObject(r.envelope());
        const std::vector<QByteArray> args = codec::splitArray(*m.find(u"args"));
        ASSERT_EQ(args.size(), 3u);
        EXPECT_EQ(codec::withRows(codec::decodeVariant(args[1]), r.takeRows(1)), Variant(p));
    }
}
