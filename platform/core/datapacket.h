#pragma once
// The wire's packets and codec, in one include: a data packet is the image
// of a dataset (field definitions, then the rows) that a server returns and
// a client dataset loads whole, or that a screen sends back with the user's
// changes. One wire encoding (JSON, see docs/protocol.md) serves client and
// server. Each part has its own header:
//
//   packet.h              FieldType, FieldDef, PacketRow, DataPacket, valueFitsField
//   codec.h               encode/decode of packets and variants, splitObject/splitArray, DecodeLimits
//   packetstreamwriter.h  PacketStreamWriter: a packet written row by row
//   envelopereader.h      EnvelopeReader: an envelope read as its bytes arrive, withRows
//   qtjson.h              variantToJson / variantFromJson (Qt's JSON tree)

#include "codec.h"
#include "envelopereader.h"
#include "packet.h"
#include "packetstreamwriter.h"
#include "qtjson.h"
