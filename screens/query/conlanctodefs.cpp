#include "conlanctodefs.h"

using core::ClientDataset;
using core::FieldDef;
using core::FieldType;

namespace conlancto {

QStringList catalogueLines()
{
    // Several texts are joined to other text where they are used, so their
    // leading and trailing blanks are part of them.
    return {
        QStringLiteral("INFO_COD_FILIAL|Filial deve ser informada."),
        QStringLiteral("COD_NAO_CAD_FILIAL|Filial não cadastrada."),
        QStringLiteral("CONFIRMA|Confirma cancelamento das notas fiscais expedidas?"),
        QStringLiteral("PE|Pendente"),
        QStringLiteral("AP|Aprovada"),
        QStringLiteral("EM|Emitida"),
        QStringLiteral("CA|Cancelada"),
        QStringLiteral("LI|Liberada"),
        QStringLiteral("CONF_ITEM|Confirma o cancelamento dos itens da nota fiscal expedida?"),
        QStringLiteral("EXC_NOTA|Cancelando notas fiscais expedidas..."),
        QStringLiteral(
            "CNTCOMIS|Itens da nota fiscal não podem ser cancelados. Nota fiscal possui conta a pagar de comissão."),
        QStringLiteral("NOTA_ALT|Operação Bloqueada. A nota fiscal foi emitida por outro usuário."),
        QStringLiteral(
            "NOTAS_N_CANC|Algumas das notas selecionadas não foram canceladas porque foram emitidas por outro usuário."),
        QStringLiteral(
            "ERRO_EXC_COMIS|Algumas notas fiscais não foram canceladas. Não foi possível excluir a conta a pagar de comissão das notas."),
        QStringLiteral(
            "ERRO_EXC_COMISMAPA|Algumas notas fiscais não foram canceladas. As notas pertecem a mapas de comissão apurados. "),
        QStringLiteral(
            "CANCEL_EXP|Não é possível cancelar itens da nota fiscal quando o sistema está parâmetrizado para gravar o sub-produtos do produto principal na nota. Neste caso a nota inteira deve ser cancelada."),
        QStringLiteral("REPLIC_APROV1|Operação Bloqueada. A nota de entrada "),
        QStringLiteral("REPLIC_APROV2| para a filial "),
        QStringLiteral("REPLIC_APROV3| já está aprovada."),
        QStringLiteral(
            "VdAtualiza|Operação Bloqueada! A tela foi atualizada pois a nota fiscal foi alterada por outro usuário. O processo deve ser repetido."),
        QStringLiteral(
            "REPLIC_N_CANC|Operação Bloqueada!A exclusão das notas replicadas faria com que o estoque ficasse irregular."),
        QStringLiteral(
            "ITEM_N_CANC|Operação Bloqueada! A exclusão do item selecionado faria com que o estoque ficasse irregular."),
        QStringLiteral("Op_bloq|Operação Bloqueada! Nota Fiscal transmitida, aceita ou denegada eletronicamente."),
        QStringLiteral("Status|Não foi possível excluir a NF "),
        QStringLiteral("Status_1| pois seu status foi atualizado. Gentileza conferir coluna Status Sefaz."),
    };
}

namespace {
void hidden(ClientDataset& ds, const QString& name, int size)
{
    ds.addString(name, size, {}, false);
}
} // namespace

void declareLanctoNF(ClientDataset& ds)
{
    ds.addString("IDCHECK", 1, "4", false, /*fixed*/ true);
    ds.addString("CDFILIAL", 4, {}, false);
    ds.addDateTime("DTENTRSAID", QStringLiteral("Data Lancto."));
    ds.addString("NRLANCTONF", 10, QStringLiteral("Lancto. NF"));
    ds.addString("NREXPEDICAO", 10, QStringLiteral("Nr. Expedição"));
    ds.addString("NRLANCESTQ", 10, QStringLiteral("Lancto. Estoque"));
    ds.addString("CDCLIENTE", 21, {}, false);
    ds.addString("NMRAZSOCCLIE", 50, QStringLiteral("Cliente/Filial Destino"));
    ds.addString("NRNOTAFISC", 20, QStringLiteral("Nr. NF"));
    ds.addDateTime("DTEMISSAO", QStringLiteral("Dt. Emissão"));
    ds.addString("IDSISTEMA", 3, {}, false);
    ds.addString("NMFANTCLIE", 50, {}, false);
    ds.addString("IDSTATUS", 1, QStringLiteral("Status"));
    ds.addString("IDSTATUSNFE", 1, {}, false);
    ds.addString("CDFILIEMIT", 4, QStringLiteral("Filial"));
    ds.addString("NRACESSONFE", 50);
    ds.addString("CDEMPRESA", 2);
    ds.addString("IDTIPOEMISNFE", 1);
    ds.addString("CDINSCESTA", 16);
    // The entry's version as listed: sent back with the list, it lets the
    // server tell an entry changed in any way since it was listed.
    ds.addInteger("NRVERSAO", {}, false);
    ds.setIndexFieldNames(QString::fromLatin1(kLanctoNFIndex));
}

void declareItensLanctoNF(ClientDataset& ds)
{
    ds.addString("IDCHECK", 1, {}, false, /*fixed*/ true);
    ds.addString("NRSEQITPROD", 4, QStringLiteral("Nr. Item"));
    ds.addString("CDARVPROD", 20, QStringLiteral("Cód.Produto"));
    ds.addString("CDPRODUTO", 10, QStringLiteral("Cód.Produto"), false);
    ds.addString("NMPRODUTO", 50, QStringLiteral("Nome Produto"));
    ds.addFloat("QTITEMPROD", QStringLiteral("Quantidade"), true, kFmtQuantidade);
    ds.addFloat("VRUNITITEM", QStringLiteral("Valor Unit."), true, kFmtValor);
    ds.addFloat("VRTOTAITEM", QStringLiteral("Vr. Total"), false, kFmtValor);
    ds.addString("CDFILIALPED", 4, QStringLiteral("Filial Pedido"));
    ds.addString("NRPEDIDO", 10, QStringLiteral("Nr.Pedido"));
    ds.addString("NRITEMPED", 10, QStringLiteral("Nr.Item Pedido"));
    hidden(ds, "CDFILIMOVI", 4);
    hidden(ds, "CDALMOXARIFE", 6);
    hidden(ds, "CDLOCALESTOQ", 6);
    hidden(ds, "NRLOTEESTQ", 20);
    hidden(ds, "NRSUBLOTE", 4);
    hidden(ds, "CDPRODESTO", 10);
    ds.addFloat("VRFATOCONV", {}, false);
    hidden(ds, "NRLANCTONF", 10);
    hidden(ds, "CDFILIAL", 4);
}

void declareItLanctoEst(ClientDataset& ds)
{
    ds.addString("NRSEQUITEM", 4, QStringLiteral("Nr.Item"));
    ds.addString("CDARVPROD", 20, QStringLiteral("Cód.Produto"));
    ds.addString("CDPRODUTO", 10, QStringLiteral("Cód.Produto"), false);
    ds.addString("NMPRODUTO", 50, QStringLiteral("Nome Produto"));
    ds.addFloat("QTLANCTOEST", QStringLiteral("Qtde."), true, kFmtQuantidade);
    ds.addFloat("VRUNILANCTO", QStringLiteral("Vr. Unitário"), true, kFmtValor);
    ds.addDateTime("DTLANCMOVI", QStringLiteral("Data Lancto."));
    ds.addFloat("VRTOTLANCTO", QStringLiteral("Vr. Total"), false, kFmtValor);
    hidden(ds, "IDTIPOMOVI", 1);
    ds.addString("CDFILIMOVI", 4, QStringLiteral("Filial Movto."));
    ds.addString("CDPRODMOVI", 10, QStringLiteral("Produto Movto."), false);
    ds.addString("PRODMOVI", 20, QStringLiteral("Produto Movto."));
}

void declareContaGerada(ClientDataset& ds)
{
    const std::pair<const char*, int> fields[] = {
        {"CDFILIALPAG", 4},  {"NRLANCTOPAG", 10}, {"NRSEQVENPAG", 2},  {"NRPARCELAPAG", 2}, {"CDFILIALREC", 4},
        {"NRLANCTOREC", 10}, {"NRSEQVENREC", 2},  {"NRPARCELAREC", 2}, {"CDEMPRESA", 2},    {"NRLANCTBDOC", 12}};
    for (const auto& [name, size] : fields)
        ds.addString(name, size);
}

void declareErroReplic(ClientDataset& ds)
{
    const std::pair<const char*, int> fields[] = {{"CDFILIAL", 4},       {"NRLANCTONF", 10},  {"CDFILIALREPLIC", 4},
                                                  {"CDSERIE", 5},        {"IDENTRSAIDOP", 1}, {"DESCOPER", 100},
                                                  {"NRLANCTONFDEST", 10}};
    for (const auto& [name, size] : fields)
        ds.addString(name, size);
}

void declareParamExpedicao(ClientDataset& ds)
{
    ds.addString("IDGERPRODEST", 1);
    ds.addString("IDREPLITRANS", 1);
    ds.addString("IDTPEXPPEDIDO", 3);
}

void declareReplicAprov(ClientDataset& ds)
{
    ds.addString("CDSERIE", 5);
    ds.addString("CDFILIAL", 4);
    ds.addString("NRLANCTONF", 10);
    ds.addString("IDENTRSAIDOP", 1);
    ds.addString("TIPO", 35);
    ds.addString("IDSTATUS", 1);
}

void declareFilial(ClientDataset& ds)
{
    ds.addField(FieldDef{"CDFILIAL", FieldType::String, 4, false, true}, QStringLiteral("Código"));
    ds.addString("NMFILIAL", 30, QStringLiteral("Nome"));
    ds.addString("CDEMPRESA", 2, {}, false);
    ds.addString("CDINSCESTA", 16, {}, false);
    ds.addString("NMEMPRESA", 40, {}, false);
    ds.addString("NMRAZSOCEMPR", 80, {}, false);
    ds.addString("CDSERIE", 5, QStringLiteral("Série Padrão"));
}

void declareInscrEstad(ClientDataset& ds)
{
    ds.addField(FieldDef{"CDINSCESTA", FieldType::String, 16, false, true});
    const std::pair<const char*, int> fields[] = {
        {"NMREPRINSEST", 40}, {"NMMUNICIPIO", 30},    {"IDTPIJURIEST", 1},     {"NRINSJURIEST", 20},
        {"SGESTADO", 2},      {"NRCEPIEST", 15},      {"DSENDEIEST", 50},      {"NMBAIRIEST", 30},
        {"NRTELEIEST", 25},   {"NRFAXIEST", 25},      {"CDPAIS", 4},           {"CDMUNICIPIO", 4},
        {"NMRAZSOCEMPR", 80}, {"IDTPAMBIENTENFE", 1}, {"NRSERIECERTIFIC", 50}, {"CDESTADOIBGE", 2}};
    for (const auto& [name, size] : fields)
        ds.addString(name, size);
}

} // namespace conlancto
