#pragma once
// Writes a packet while its rows are produced, for answers too long to be
// held whole.

#include "packet.h"

#include <QByteArray>

#include <memory>

namespace core::codec {

/// Writes a packet while its rows are produced: the field list first, then
/// one row at a time, then the end. Each row is checked as
/// DataPacket::appendRow checks it; the text written is byte for byte what
/// encodePacket writes for the same packet. The caller takes the bytes
/// written so far whenever it wants to send them.
class PacketStreamWriter {
public:
    explicit PacketStreamWriter(QList<FieldDef> fields);
    ~PacketStreamWriter();
    PacketStreamWriter(const PacketStreamWriter&) = delete;
    PacketStreamWriter& operator=(const PacketStreamWriter&) = delete;

    /// Appends one row; throws core::Error naming the row and field when a
    /// value does not fit (nothing of that row is written then).
    void row(const PacketRow& row);
    /// Closes the rows and the packet object.
    void end();
    int rowCount() const;
    /// Bytes written and not yet taken.
    qsizetype pending() const;
    /// The bytes written since the last take.
    QByteArray take();
    /// Appends raw text (envelope parts around the packet).
    void raw(const QByteArray& text);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace core::codec
