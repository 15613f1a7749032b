#include "streamedanswer.h"

namespace server {

namespace {

constexpr qsizetype kStreamPart = 64 * 1024;

// Packets of fewer rows are written with the text around them.
constexpr int kStreamedPacketRows = 1000;

bool largePacket(const core::Variant& v)
{
    return v.type() == core::Variant::Type::Packet && v.packet().rowCount() >= kStreamedPacketRows;
}

} // namespace

std::string refsList(const core::VariantArray& refs)
{
    std::string out = "[";
    for (int i = 0; i < refs.size(); ++i) {
        if (i)
            out += ',';
        out += core::codec::encodeVariant(refs[i]).toStdString();
    }
    out += "]";
    return out;
}

std::string okBody(const CallResult& r)
{
    std::string out = "{\"status\":\"ok\",\"payload\":";
    out += core::codec::encodeVariant(r.payload).toStdString();
    out += ",\"refs\":";
    out += refsList(r.refs);
    out += "}";
    return out;
}

StreamedAnswer::StreamedAnswer(std::shared_ptr<RowSource> rows, const core::VariantArray& refs)
{
    segments_.push_back({"{\"payload\":{\"packet\":", nullptr, nullptr, {}});
    segments_.push_back({{}, std::move(rows), nullptr, "}"});
    segments_.push_back({"},\"refs\":" + refsList(refs) + ",\"status\":\"ok\"}", nullptr, nullptr, {}});
}

bool StreamedAnswer::worthStreaming(const core::Variant& payload)
{
    if (largePacket(payload))
        return true;
    if (payload.isArray())
        for (const core::Variant& e : payload.elements())
            if (largePacket(e))
                return true;
    return false;
}

void StreamedAnswer::addPacket(const core::Variant& packet, std::string closer)
{
    segments_.back().text += "{\"packet\":";
    segments_.push_back({{}, nullptr, packet.packetPtr(), std::move(closer)});
    segments_.push_back({"}", nullptr, nullptr, {}});
}

StreamedAnswer::StreamedAnswer(const core::Variant& payload, const core::VariantArray& refs)
{
    segments_.push_back({"{\"payload\":", nullptr, nullptr, {}});
    if (largePacket(payload)) {
        addPacket(payload, "}");
    } else if (payload.isArray()) {
        segments_.back().text += "[";
        const auto& elements = payload.elements();
        for (qsizetype i = 0; i < qsizetype(elements.size()); ++i) {
            if (i)
                segments_.back().text += ",";
            if (largePacket(elements[i]))
                addPacket(elements[i], "}]");
            else
                segments_.back().text += core::codec::encodeVariant(elements[i]).toStdString();
        }
        segments_.back().text += "]";
    } else {
        segments_.back().text += core::codec::encodeVariant(payload).toStdString();
    }
    segments_.back().text += ",\"refs\":" + refsList(refs) + ",\"status\":\"ok\"}";
}

StreamedAnswer::~StreamedAnswer() = default;

bool StreamedAnswer::next(std::string& out)
{
    out.clear();
    if (ended_)
        return false;
    while (at_ < segments_.size() && qsizetype(out.size()) < kStreamPart) {
        Segment& seg = segments_[at_];
        if (!seg.source && !seg.packet) {
            out += seg.text;
            ++at_;
            continue;
        }
        if (!writer_)
            writer_ = std::make_unique<core::codec::PacketStreamWriter>(seg.source ? seg.source->fields()
                                                                                   : seg.packet->fields());
        try {
            bool more = true;
            if (seg.source) {
                core::PacketRow row;
                while (writer_->pending() < kStreamPart && (more = seg.source->next(row)))
                    writer_->row(row);
            } else {
                // A compact packet (a list the caller sent, sent back) is read row by row.
                core::PacketRow row;
                const int count = seg.packet->rowCount();
                while (writer_->pending() < kStreamPart && (more = rowAt_ < count)) {
                    seg.packet->readRow(rowAt_++, row);
                    writer_->row(row);
                }
            }
            if (!more) {
                writer_->end();
                rows_ += writer_->rowCount();
                const QByteArray part = writer_->take();
                out.append(part.constData(), size_t(part.size()));
                writer_.reset();
                rowAt_ = 0;
                ++at_;
                continue;
            }
        } catch (...) {
            // The status line went out with the first part: the failure
            // travels at the end of the body, as the caller may see it.
            fault_ = callFault(std::current_exception());
            writer_->end();
            rows_ += writer_->rowCount();
            writer_->raw(QByteArray::fromStdString(seg.closer) + ",\"status\":\"raised\",\"message\":"
                         + core::codec::encodeVariant(core::Variant(fault_.message)) + "}");
            const QByteArray part = writer_->take();
            out.append(part.constData(), size_t(part.size()));
            ended_ = true;
            return true;
        }
        const QByteArray part = writer_->take();
        out.append(part.constData(), size_t(part.size()));
        break; // a part full of rows
    }
    if (at_ == segments_.size())
        ended_ = true;
    return true;
}

} // namespace server
