#include "maskedit.h"

namespace host {

namespace {

struct ParsedMask {
    QString body;
    bool storeLiterals = true;
    QChar blank = u'_';
};

ParsedMask parseMask(const QString& m)
{
    ParsedMask r;
    r.body = m;
    // "body;store;blank" read from the right: the blank is the last
    // character after the last ';', the store flag the field before it.
    const qsizetype last = m.lastIndexOf(u';');
    if (last < 0)
        return r;
    const qsizetype prev = m.lastIndexOf(u';', last - 1);
    if (prev >= 0 && last - prev == 2 && (m[prev + 1] == u'0' || m[prev + 1] == u'1')) {
        r.body = m.left(prev);
        r.storeLiterals = m[prev + 1] == u'1';
        r.blank = last + 1 < m.size() ? m[last + 1] : QChar(u' ');
    } else if (last + 2 == m.size() && (m[last + 1] == u'0' || m[last + 1] == u'1')) {
        r.body = m.left(last);
        r.storeLiterals = m[last + 1] == u'1';
    }
    return r;
}

// Per displayed position: true for a literal.
QList<bool> literalPositions(const QString& body)
{
    QList<bool> lits;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const QChar c = body[i];
        if (c == u'\\') {
            if (i + 1 < body.size()) {
                lits << true;
                ++i;
            }
            continue;
        }
        if (c == u'>' || c == u'<' || c == u'!')
            continue;
        static const QString kSlots = QStringLiteral("90#LlAaCc");
        lits << !kSlots.contains(c);
    }
    return lits;
}

} // namespace

QString TMaskEdit::toQtInputMask(const QString& platformMask)
{
    if (platformMask.isEmpty())
        return {};
    const ParsedMask pm = parseMask(platformMask);
    static const QString kQtSpecial = QStringLiteral("AaNnXx90Dd#HhBb><!\\{}[];");
    QString out;
    const QString& b = pm.body;
    for (qsizetype i = 0; i < b.size(); ++i) {
        const QChar c = b[i];
        switch (c.unicode()) {
        case '9': out += u'0'; break; // optional digit
        case '0': out += u'9'; break; // required digit
        case '#': out += u'#'; break; // optional digit or sign
        case 'L': out += u'A'; break; // required letter
        case 'l': out += u'a'; break; // optional letter
        case 'A': out += u'N'; break; // required letter or digit
        case 'a': out += u'n'; break; // optional letter or digit
        case 'C': out += u'X'; break; // required any
        case 'c': out += u'x'; break; // optional any
        case '>': out += u'>'; break;
        case '<':
            if (i + 1 < b.size() && b[i + 1] == u'>') {
                out += u'!';
                ++i;
            } else {
                out += u'<';
            }
            break;
        case '!': break; // leading-blank trimming: no equivalent, not needed
        case '\\':
            if (i + 1 < b.size()) {
                out += u'\\';
                out += b[++i];
            }
            break;
        default:
            if (kQtSpecial.contains(c))
                out += u'\\';
            out += c;
        }
    }
    out += u';';
    out += pm.blank;
    return out;
}

TMaskEdit::TMaskEdit(const QString& objectName, QWidget* parent, const QString& editMask) : TEdit(objectName, parent)
{
    if (!editMask.isEmpty())
        setEditMask(editMask);
}

void TMaskEdit::setEditMask(const QString& platformMask)
{
    mask_ = platformMask;
    storeLiterals_ = parseMask(platformMask).storeLiterals;
    setInputMask(toQtInputMask(platformMask));
}

QString TMaskEdit::text() const
{
    if (mask_.isEmpty())
        return QLineEdit::text();
    const ParsedMask pm = parseMask(mask_);
    const QList<bool> lits = literalPositions(pm.body);
    const QString shown = displayText();
    QString out;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const bool literal = i < lits.size() && lits[i];
        if (literal) {
            if (storeLiterals_)
                out += shown[i];
            continue;
        }
        if (shown[i] != pm.blank)
            out += shown[i];
    }
    return out;
}

void TMaskEdit::setText(const QString& stored)
{
    QLineEdit::setText(stored);
}

} // namespace host
