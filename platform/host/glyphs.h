#pragma once
// Small tool-button glyphs drawn in code (no image files to ship).

#include <QIcon>

namespace host::glyphs {

enum class Glyph { Search, Reload, Print, Help, Close, Confirm, Save, Load, App };

QIcon icon(Glyph g);

} // namespace host::glyphs
