// Column layouts of the cancellation server's packets and their select lists.
#include "cancelnota_shared.h"

namespace server::cancelnota {

using core::FieldType;

const std::vector<Column> kLanctoCols = {
    {"IDCHECK", FieldType::String, 1, true}, {"CDFILIAL", FieldType::String, 4},
    {"DTENTRSAID", FieldType::DateTime},     {"NRLANCTONF", FieldType::String, 10},
    {"NREXPEDICAO", FieldType::String, 10},  {"NRLANCESTQ", FieldType::String, 10},
    {"CDCLIENTE", FieldType::String, 21},    {"NMRAZSOCCLIE", FieldType::String, 50},
    {"NRNOTAFISC", FieldType::String, 20},   {"DTEMISSAO", FieldType::DateTime},
    {"IDSISTEMA", FieldType::String, 3},     {"NMFANTCLIE", FieldType::String, 50},
    {"IDSTATUS", FieldType::String, 1},      {"IDSTATUSNFE", FieldType::String, 1},
    {"CDFILIEMIT", FieldType::String, 4},    {"NRACESSONFE", FieldType::String, 50},
    {"CDEMPRESA", FieldType::String, 2},     {"IDTIPOEMISNFE", FieldType::String, 1},
    {"CDINSCESTA", FieldType::String, 16},   {"NRVERSAO", FieldType::Integer},
};

const std::vector<Column> kItemCols = {
    {"IDCHECK", FieldType::String, 1, true}, {"NRSEQITPROD", FieldType::String, 4},
    {"CDARVPROD", FieldType::String, 20},    {"CDPRODUTO", FieldType::String, 10},
    {"NMPRODUTO", FieldType::String, 50},    {"QTITEMPROD", FieldType::Float},
    {"VRUNITITEM", FieldType::Float},        {"VRTOTAITEM", FieldType::Float},
    {"CDFILIALPED", FieldType::String, 4},   {"NRPEDIDO", FieldType::String, 10},
    {"NRITEMPED", FieldType::String, 10},    {"CDFILIMOVI", FieldType::String, 4},
    {"CDALMOXARIFE", FieldType::String, 6},  {"CDLOCALESTOQ", FieldType::String, 6},
    {"NRLOTEESTQ", FieldType::String, 20},   {"NRSUBLOTE", FieldType::String, 4},
    {"CDPRODESTO", FieldType::String, 10},   {"VRFATOCONV", FieldType::Float},
    {"NRLANCTONF", FieldType::String, 10},   {"CDFILIAL", FieldType::String, 4},
};

const std::vector<Column> kContaCols = {
    {"CDFILIALPAG", FieldType::String, 4}, {"NRLANCTOPAG", FieldType::String, 10},
    {"NRSEQVENPAG", FieldType::String, 2}, {"NRPARCELAPAG", FieldType::String, 2},
    {"CDFILIALREC", FieldType::String, 4}, {"NRLANCTOREC", FieldType::String, 10},
    {"NRSEQVENREC", FieldType::String, 2}, {"NRPARCELAREC", FieldType::String, 2},
    {"CDEMPRESA", FieldType::String, 2},   {"NRLANCTBDOC", FieldType::String, 12},
};

const std::vector<Column> kEstCols = {
    {"NRSEQUITEM", FieldType::String, 4}, {"CDARVPROD", FieldType::String, 20},  {"CDPRODUTO", FieldType::String, 10},
    {"NMPRODUTO", FieldType::String, 50}, {"QTLANCTOEST", FieldType::Float},     {"VRUNILANCTO", FieldType::Float},
    {"DTLANCMOVI", FieldType::DateTime},  {"VRTOTLANCTO", FieldType::Float},     {"IDTIPOMOVI", FieldType::String, 1},
    {"CDFILIMOVI", FieldType::String, 4}, {"CDPRODMOVI", FieldType::String, 10}, {"PRODMOVI", FieldType::String, 20},
};

const std::vector<Column> kErroReplicCols = {
    {"CDFILIAL", FieldType::String, 4},        {"NRLANCTONF", FieldType::String, 10},
    {"CDFILIALREPLIC", FieldType::String, 4},  {"CDSERIE", FieldType::String, 5},
    {"IDENTRSAIDOP", FieldType::String, 1},    {"DESCOPER", FieldType::String, 100},
    {"NRLANCTONFDEST", FieldType::String, 10},
};

const std::vector<Column> kFollowUpCols = {
    {"CDFILIAL", FieldType::String, 4},     {"NRLANCTONF", FieldType::String, 10},
    {"NREXPEDICAO", FieldType::String, 10}, {"NRLANCESTQ", FieldType::String, 10},
    {"DTENTRSAID", FieldType::DateTime},    {"CDFILIEMIT", FieldType::String, 4},
    {"NRSEQITPROD", FieldType::String, 4},  {"CDPRODUTO", FieldType::String, 10},
    {"NMPRODUTO", FieldType::String, 50},   {"QTITEMPROD", FieldType::Float},
    {"CDFILIALPED", FieldType::String, 4},  {"NRPEDIDO", FieldType::String, 10},
    {"NRITEMPED", FieldType::String, 10},
};

QString selectList(const Database& db, const std::vector<Column>& cols)
{
    QStringList s;
    for (const Column& c : cols) {
        const QString name = c.name;
        if (name == "IDCHECK")
            s << "'N'";
        else if (name == "QTITEMPROD" || name == "QTLANCTOEST")
            s << qtyFloatSql(db, name);
        else
            s << name;
    }
    return s.join(", ");
}

} // namespace server::cancelnota
