// A packet written while its rows are produced.
#include "packetstreamwriter.h"

#include "jsonwriter_p.h"

namespace core::codec {

struct Q_DECL_HIDDEN PacketStreamWriter::Impl {
    QList<FieldDef> fields;
    detail::Writer w{1 << 16};
    int rows = 0;
};

PacketStreamWriter::PacketStreamWriter(QList<FieldDef> fields) : d(std::make_unique<Impl>())
{
    d->fields = std::move(fields);
    detail::writePacketHead(d->w, d->fields);
}

PacketStreamWriter::~PacketStreamWriter() = default;

void PacketStreamWriter::row(const PacketRow& row)
{
    const qsizetype mark = d->w.size();
    try {
        detail::writeRow(d->w, d->fields, row, d->rows);
    } catch (...) {
        d->w.truncate(mark);
        throw;
    }
    ++d->rows;
}

void PacketStreamWriter::end()
{
    d->w.lit("]}");
}

int PacketStreamWriter::rowCount() const
{
    return d->rows;
}

qsizetype PacketStreamWriter::pending() const
{
    return d->w.size();
}

QByteArray PacketStreamWriter::take()
{
    QByteArray out = d->w.take();
    d->w = detail::Writer(1 << 16);
    return out;
}

void PacketStreamWriter::raw(const QByteArray& text)
{
    d->w.put(text.constData(), text.size());
}

} // namespace core::codec
