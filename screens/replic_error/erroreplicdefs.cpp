#include "erroreplicdefs.h"

namespace erroreplic {

QStringList catalogueLines()
{
    return {
        QStringLiteral("ERRO_PED|Este documento está replicado. Se exclui-lo irá excluir também o(s) \r\n"
                       "documento(s) replicado(s) correspondente(s). "),
        QStringLiteral(
            "ERRO_ITEM|Este documento está replicado. A exclusão do item irá excluir também o item do documento replicado."),
    };
}

void declareErroReplic(core::ClientDataset& ds)
{
    ds.addString("NRLANCTONFDEST", 10, QStringLiteral("Lançamento Dest."));
    ds.addString("CDFILIAL", 4, QStringLiteral("Filial Origem"));
    ds.addString("NRLANCTONF", 10, QStringLiteral("Lançamento Orig."));
    ds.addString("CDFILIALREPLIC", 4, QStringLiteral("Filial Destino"));
    ds.addString("IDENTRSAIDOP", 1, QStringLiteral("E/S"));
    ds.addString("DESCOPER", 100, QStringLiteral("Tipo de Operação"));
    ds.addString("CDSERIE", 5, QStringLiteral("Série"));
}

} // namespace erroreplic
