// The packet codec's round trip: any bytes are either refused with
// core::Error or decoded; whatever decodes re-encodes to a text that decodes
// to the same value, and encoding that value again gives the same text.
#include "core/datapacket.h"
#include "core/errors.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fault(const char* what, const QByteArray& a, const QByteArray& b)
{
    std::fprintf(stderr, "%s\n  first:  %.*s\n  second: %.*s\n", what, int(a.size()), a.constData(), int(b.size()),
                 b.constData());
    std::abort();
}

template <typename Decode, typename Encode>
void roundTrip(const QByteArray& in, Decode decode, Encode encode)
{
    decltype(decode(in)) value;
    try {
        value = decode(in);
    } catch (const core::Error&) {
        return; // refused: the only other outcome allowed
    }
    const QByteArray text = encode(value);
    decltype(decode(in)) again;
    try {
        again = decode(text);
    } catch (const core::Error&) {
        fault("an encoded value is refused by the decoder", in, text);
    }
    if (!(again == value))
        fault("decoding the encoded value gives another value", in, text);
    const QByteArray text2 = encode(again);
    if (text2 != text)
        fault("the same value encodes to two texts", text, text2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray in = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    roundTrip(in, core::codec::decodeVariant, core::codec::encodeVariant);
    roundTrip(in, core::codec::decodePacket, core::codec::encodePacket);
    return 0;
}
