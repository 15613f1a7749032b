// Drawing of the check-mark columns of the entry and item grids.

#include "conlancto.h"

#include "checkimages.h"

#include <QPainter>

#include <optional>

using namespace core;

bool TfrmConLancto::entryBlocked() const
{
    if (!cdsLanctoNF->active() || cdsLanctoNF->isEmpty())
        return false;
    const QString st = cdsLanctoNF->fieldByName("IDSTATUS").asString();
    const QString nfe = cdsLanctoNF->fieldByName("IDSTATUSNFE").asString();
    return st == "A" || st == "C" || st == "E" || st == "L" || nfe == "A" || nfe == "D" || nfe == "T";
}

void TfrmConLancto::drawCheckCell(QPainter& canvas, const QRect& rect, const QString& idcheck)
{
    // An entry with a status is drawn greyed when it cannot be ticked; one
    // without a status is drawn by its mark alone.
    std::optional<checkimages::Kind> kind;
    const bool hasStatus = !EmptyString(cdsLanctoNF->fieldByName("IDSTATUS").asString());
    if (hasStatus && entryBlocked())
        kind = checkimages::Kind::Descheck;
    else if (idcheck == "N")
        kind = checkimages::Kind::Uncheck;
    else if (idcheck == "S")
        kind = checkimages::Kind::Check;

    canvas.fillRect(rect, canvas.brush());
    if (!kind)
        return;
    const QImage glyph = checkimages::onBackground(*kind, canvas.brush().color());
    const int height = std::min(glyph.height(), rect.height());
    canvas.drawImage(QPoint(rect.left() + 1, rect.top()), glyph, QRect(0, 0, glyph.width(), height));
}

void TfrmConLancto::dbgPadraoDrawColumnCell(QPainter& canvas, const QRect& rect, int, const host::Column& column,
                                            host::GridDrawStates)
{
    if (column.fieldName.compare("IDCHECK", Qt::CaseInsensitive) != 0)
        return;
    drawCheckCell(canvas, rect, cdsLanctoNF->fieldByName("IDCHECK").asString());
}

void TfrmConLancto::dbgItensNfDrawColumnCell(QPainter& canvas, const QRect& rect, int, const host::Column& column,
                                             host::GridDrawStates)
{
    // Every item follows the current entry's blocking.
    if (column.fieldName.compare("IDCHECK", Qt::CaseInsensitive) != 0)
        return;
    drawCheckCell(canvas, rect, cdsItensLanctoNF->fieldByName("IDCHECK").asString());
}
