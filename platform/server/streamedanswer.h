#pragma once
// An "ok" answer written in parts while its rows are read or encoded.

#include "callfault.h"
#include "registry.h"

#include <core/datapacket.h>

#include <memory>
#include <string>
#include <vector>

namespace server {

/// An "ok" answer written in parts of about 64 KB, `status` last:
/// `{"payload":{"packet":{"fields":[...],"rows":[...]}},"refs":[...],"status":"ok"}`.
/// Either the payload is the packet of rows still to be read (a list read
/// while it is written), or it is a computed payload whose large packets
/// (the payload itself, or elements of a payload list) are encoded row by row
/// while the first parts are on their way. A failure after the first bytes
/// ends the rows and the payload and closes the answer with
/// `"status":"raised"` and the message the caller may see (see callFault:
/// a failure of the server itself shows only a reference).
class StreamedAnswer {
public:
    StreamedAnswer(std::shared_ptr<RowSource> rows, const core::VariantArray& refs);
    StreamedAnswer(const core::Variant& payload, const core::VariantArray& refs);
    ~StreamedAnswer();
    /// Whether a computed payload is large enough to be sent in parts.
    static bool worthStreaming(const core::Variant& payload);
    /// The next part of the body (about 64 KB, ending at a row); false once
    /// the whole body was given.
    bool next(std::string& out);
    int rowCount() const { return rows_; }
    /// Empty while the rows read well; else the message sent at the end.
    const QString& failure() const { return fault_.message; }
    /// The failure as the log keeps it (its reference and detail when internal).
    const Fault& fault() const { return fault_; }

private:
    /// The body as a sequence: text, then the rows of a packet, and so on.
    struct Segment {
        std::string text;                               ///< written as it stands
        std::shared_ptr<RowSource> source;              ///< rows read while written, or
        std::shared_ptr<const core::DataPacket> packet; ///< rows already in memory
        std::string closer;                             ///< closes what is open when the rows fail
    };
    void addPacket(const core::Variant& packet, std::string closer);
    std::vector<Segment> segments_;
    size_t at_ = 0;
    int rowAt_ = 0;
    std::unique_ptr<core::codec::PacketStreamWriter> writer_;
    int rows_ = 0;
    Fault fault_;
    bool ended_ = false;
};

/// The "refs" list of an answer, as JSON.
std::string refsList(const core::VariantArray& refs);
/// A whole "ok" answer.
std::string okBody(const CallResult& r);

} // namespace server
