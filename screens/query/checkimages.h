#pragma once
// The three 16 x 16 glyphs of the check-mark columns. Their background is
// olive (128, 128, 0), the colour that drawing treats as transparent.

#include <QColor>
#include <QImage>

namespace checkimages {

enum class Kind { Uncheck, Descheck, Check };

/// The glyph, pixel for pixel, olive background included.
QImage image(Kind kind);
/// The colour drawn as transparent.
inline QColor transparentColor()
{
    return QColor(128, 128, 0);
}
/// The glyph with every olive pixel replaced by `background`.
QImage onBackground(Kind kind, const QColor& background);

} // namespace checkimages
