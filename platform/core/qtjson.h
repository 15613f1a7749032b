#pragma once
// Variants to and from Qt's in-memory JSON tree, for embedding them in
// requests built with QJsonObject. The bytes on the wire are the codec's
// (codec.h); packets coming from a tree are decoded by the codec too.

#include "variant.h"

class QJsonValue;

namespace core::codec {

/// Throws core::Error for a number that is not finite or a packet whose
/// rows do not fit its fields.
QJsonValue variantToJson(const Variant& v);
/// Throws core::Error for anything that is not a variant's JSON form.
Variant variantFromJson(const QJsonValue& j);

} // namespace core::codec
