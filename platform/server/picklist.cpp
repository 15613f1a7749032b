#include "picklist.h"

#include <core/errors.h>

namespace server {

namespace {
bool keyChar(QChar c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '-'
        || c == '_' || c == '.' || c == '/';
}
} // namespace

QStringList parsePickedList(const QString& text, const QString& what)
{
    auto refuse = [&](int pos, const QString& why) {
        return core::Error(QString("Lista de %1 inválida (posição %2): %3.").arg(what).arg(pos + 1).arg(why));
    };
    if (text.isEmpty())
        throw core::Error(QString("Lista de %1 vazia.").arg(what));
    QStringList keys;
    int i = 0;
    const int n = text.size();
    while (true) {
        if (i >= n || text[i] != '\'')
            throw refuse(i, "esperado apóstrofo de abertura");
        const int start = ++i;
        while (i < n && keyChar(text[i]))
            ++i;
        if (i >= n || text[i] != '\'')
            throw refuse(i, i >= n ? "falta o apóstrofo de fechamento" : "caractere não permitido em uma chave");
        if (i == start)
            throw refuse(i, "chave vazia");
        keys << text.mid(start, i - start);
        if (keys.size() > kMaxPickedKeys)
            throw core::Error(QString("Lista de %1 com mais de %2 chaves.").arg(what).arg(kMaxPickedKeys));
        ++i;
        if (i == n)
            break;
        if (text[i] != ',')
            throw refuse(i, "esperada vírgula entre as chaves");
        ++i;
    }
    return keys;
}

} // namespace server
