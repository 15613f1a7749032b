#pragma once
// Picked-list strings: the keys a user marked in the multi-row picker, each
// in single quotes, separated by commas ('0000000012','0000000015'). Parsed
// strictly; the keys are then bound as query parameters.

#include <QString>
#include <QStringList>

namespace server {

/// Most keys one list may hold.
constexpr int kMaxPickedKeys = 2000;

/// Splits a picked-list string into its keys. A key holds letters, digits,
/// blanks and "-_./" only. Throws core::Error naming `what` and the position
/// of the first character that does not fit; an empty string is refused too.
QStringList parsePickedList(const QString& text, const QString& what);

} // namespace server
