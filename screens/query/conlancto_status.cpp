// Words shown for the entry list's two one-letter status codes. Only the
// text changes; the stored codes stay as they are for every rule that
// compares them. Codes are compared whole and case-sensitively: "p", "P "
// or an unknown code show nothing.

#include "conlancto.h"

#include <iterator>

namespace {

struct StatusText {
    const char* code;
    const char* text; ///< catalogue key (entry status) or the text itself (NF-e)
};

// Entry status: the words come from the screen's catalogue.
constexpr StatusText kStatusKeys[] = {
    {"P", "PE"}, {"A", "AP"}, {"E", "EM"}, {"C", "CA"}, {"L", "LI"},
};

// NF-e status with the tax authority: fixed words.
constexpr StatusText kStatusNfe[] = {
    {"A", "Aceita"}, {"C", "Cancelada"}, {"D", "Denegada"}, {"P", "Pendente"}, {"R", "Rejeitada"}, {"T", "Transmitida"},
};

template <size_t N>
const StatusText* lookup(const StatusText (&table)[N], const QString& code)
{
    for (const StatusText& s : table)
        if (code == QLatin1String(s.code))
            return &s;
    return nullptr;
}

/// The code on the row being shown (the grid positions the dataset on each
/// row it draws); Null reads as empty.
QString codeOf(const core::ClientDataset* ds, const char* field)
{
    const core::Field& f = ds->fieldByName(QString::fromLatin1(field));
    return f.isNull() ? QString() : f.value().toString();
}

} // namespace

void TfrmConLancto::cdsLanctoNFIDSTATUSGetText(core::Field& /*sender*/, QString& text, bool /*displayText*/)
{
    const StatusText* s = lookup(kStatusKeys, codeOf(cdsLanctoNF, "IDSTATUS"));
    text = s ? msgPadrao.Msg(QString::fromLatin1(s->text)) : QString();
}

void TfrmConLancto::cdsLanctoNFIDSTATUSNFEGetText(core::Field& /*sender*/, QString& text, bool /*displayText*/)
{
    const StatusText* s = lookup(kStatusNfe, codeOf(cdsLanctoNF, "IDSTATUSNFE"));
    text = s ? QString::fromLatin1(s->text) : QString();
}
