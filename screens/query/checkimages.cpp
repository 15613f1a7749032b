#include "checkimages.h"

namespace checkimages {

namespace {
// Top row first: '.' olive, 'X' black, 'o' interior (white, or silver for the
// greyed box), 's' silver shadow. The tick of the checked box is drawn in
// black over the interior.
const char* const kFrame[16] = {
    "................", ".............s..", "..XXXXXXXXXX.s..", "..Xooooooooo.s..",
    "..Xooooooooo.s..", "..Xooooooooo.s..", "..Xooooooooo.s..", "..Xooooooooo.s..",
    "..Xooooooooo.s..", "..Xooooooooo.s..", "..Xooooooooo.s..", "..Xooooooooo.s..",
    ".............s..", ".sssssssssssss..", "................", "................",
};

const char* const kCheck[16] = {
    "................", ".............s..", "..XXXXXXXXXX.s..", "..Xooooooooo.s..",
    "..XoooooooXo.s..", "..XooooooXXo.s..", "..XoXoooXXXo.s..", "..XoXXoXXXoo.s..",
    "..XoXXXXXooo.s..", "..XooXXXoooo.s..", "..XoooXooooo.s..", "..Xooooooooo.s..",
    ".............s..", ".sssssssssssss..", "................", "................",
};

QImage render(const char* const* map, QColor interior)
{
    QImage img(16, 16, QImage::Format_RGB32);
    const QColor olive = transparentColor();
    const QColor silver(192, 192, 192);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            QColor c = olive;
            switch (map[y][x]) {
            case 'X': c = Qt::black; break;
            case 'o': c = interior; break;
            case 's': c = silver; break;
            default: break;
            }
            img.setPixelColor(x, y, c);
        }
    }
    return img;
}
} // namespace

QImage image(Kind kind)
{
    switch (kind) {
    case Kind::Check: return render(kCheck, Qt::white);
    case Kind::Descheck: return render(kFrame, QColor(192, 192, 192));
    case Kind::Uncheck: break;
    }
    return render(kFrame, Qt::white);
}

QImage onBackground(Kind kind, const QColor& background)
{
    QImage img = image(kind);
    const QRgb olive = transparentColor().rgb();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == olive)
                img.setPixel(x, y, background.rgb());
    return img;
}

} // namespace checkimages
