#pragma once
// Internal to the wire library: what the packet, the writers and the
// readers share. Not for callers outside platform/core.

#include <QString>
#include <QtGlobal>

namespace core {

/// The refusal of one value of a packet row (`row` counted from 0).
Q_DECL_HIDDEN QString rowFieldError(int row, const QString& field, const QString& why);

namespace codec::detail {
/// Deepest nesting of one value the codec writes or reads.
constexpr int kMaxDepth = 64;
} // namespace codec::detail

} // namespace core
