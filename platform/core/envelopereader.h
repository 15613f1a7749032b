#pragma once
// Reads a call envelope while its bytes arrive, decoding the rows of its
// packets as each row is complete instead of holding the whole text.

#include "codec.h"
#include "packet.h"

#include <QByteArray>

#include <memory>
#include <vector>

namespace core::codec {

/// Reads a call envelope (an answer, or a request) while its bytes arrive.
/// The rows of a packet found at the answer's `payload` (or at an element of
/// a payload that is a list) or at an element of the request's `args` are
/// decoded as soon as each row is complete and their bytes dropped;
/// everything else is kept as text. When the last byte is in, `envelope()`
/// is the envelope with those rows left out (their lists empty), to be
/// decoded by splitObject and the decoders of codec.h, which apply every
/// rule to it; the rows read are then put back with `withRows`. So a packet
/// found malformed halfway is refused whole, as when decoded in one piece.
///
/// feed() and end() throw core::Error at the first malformed streamed row or
/// list separator; other faults show when the envelope is decoded.
class EnvelopeReader {
public:
    /// Packet slots: which packet of the envelope rows were streamed for.
    /// A request's argument is its index (0, 1, ...); the answer's payload
    /// and the packets of a payload that is a list have the negative
    /// numbers below, apart from each other and from every argument.
    static constexpr int kPayload = -1;
    /// No packet: outside streamed rows.
    static constexpr int kNoSlot = -2;
    /// Element 0 of a payload that is a list; element `i` is this minus `i`.
    static constexpr int kFirstPayloadElement = -100;
    /// The packet at element `i` (from 0) of a payload that is a list.
    static constexpr int payloadElement(int i) { return kFirstPayloadElement - i; }

    EnvelopeReader();
    ~EnvelopeReader();
    EnvelopeReader(const EnvelopeReader&) = delete;
    EnvelopeReader& operator=(const EnvelopeReader&) = delete;

    /// Set before the first feed(); feed() and end() throw core::Error once
    /// a bound is passed, before the bytes past it are kept.
    void setLimits(const DecodeLimits& limits);
    void feed(const char* data, qsizetype size);
    /// Pieces smaller than `bytes` are gathered before they are read, since
    /// a row cut at the end of a piece costs a second look (32 KB unless
    /// set; 0 reads every piece as it comes, as a test of the cuts wants).
    void setGather(qsizetype bytes);
    /// Reads what feed() still holds (small pieces are gathered first);
    /// throws as feed() does. envelope(), streamed(), packetWithRows() and
    /// takeRows() call it first, so they see every byte fed.
    void end();
    /// Streamed rows are kept compact (see DataPacket::CompactRows); take
    /// them with packetWithRows().
    void setCompactRows(bool compact);
    /// `packet` (decoded from the envelope) with the rows streamed for
    /// `slot` in place, compact or not; throws core::Error when it is not a
    /// packet without rows.
    Variant packetWithRows(int slot, const Variant& packet);
    /// Bytes fed so far.
    qint64 size() const;
    /// The envelope text without the streamed rows.
    const QByteArray& envelope();
    /// Whether rows were streamed for that packet.
    bool streamed(int slot);
    /// The packet whose rows are being read (a slot), or kNoSlot outside
    /// streamed rows: where a feed() failure was.
    int readingRowsOf() const;
    /// The rows streamed for that packet (moved out).
    std::vector<PacketRow> takeRows(int slot);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// `packet` (a packet variant decoded from an envelope whose rows were
/// streamed, so without rows) with `rows` in place; throws core::Error when
/// it is not a packet without rows.
Variant withRows(const Variant& packet, std::vector<PacketRow>&& rows);

} // namespace core::codec
