#include "demodata.h"

#include "quantity.h"
#include "schema.h"
#include "sefazconfig.h"

#include <core/variant.h>

#include <QSqlQuery>
#include <QVariant>

#include <map>
#include <vector>

namespace server {

namespace {

// splitmix64: the same sequence on every platform for a given seed.
struct Rng {
    quint64 s;
    quint64 next()
    {
        quint64 z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return int(next() % quint64(n)); }
};

QString pad(qint64 n, int width)
{
    return QString::number(n).rightJustified(width, '0');
}

class Inserter {
public:
    Inserter(QSqlDatabase& conn, const QString& table, const QStringList& cols)
        : q_(prepare(conn,
                     QString("INSERT INTO %1 (%2) VALUES (%3)")
                         .arg(table, cols.join(", "), QString("?,").repeated(cols.size()).chopped(1))))
    { }
    void operator()(const QVariantList& values)
    {
        for (const QVariant& v : values)
            q_.addBindValue(v);
        exec(q_);
    }

private:
    QSqlQuery q_;
};

struct Branch {
    const char* code;
    const char* name;
    const char* company;
    const char* registration;
    const char* state;
    const char* municipio;
    const char* gerProdEst;
    const char* repliTrans;
    const char* tpExpPedido;
    bool shipments;
};

const Branch kBranches[] = {
    {"0001", "Matriz São Paulo", "01", "110042490114", "SP", "0001", "1", "S", "", true},
    {"0002", "Filial Campinas (grade)", "01", "244123456110", "SP", "0002", "1", "S", "GRA", true},
    {"0003", "Filial Belo Horizonte", "02", "0623079040081", "MG", "0003", "3", "N", "", true},
    {"0004", "Filial Rio de Janeiro", "02", "86123456", "RJ", "0004", "1", "N", "", false},
};

} // namespace

void generateDemo(Database& db, const DemoOptions& opt)
{
    migrateSchema(db);
    QSqlDatabase conn = db.connection();
    Transaction tx(db, conn);
    for (const char* t :
         {"AUDITCANC", "SITUACAONFE", "DOCREPLIC", "CONTAGERADA", "SALDOESTQ", "ITLANCTOEST", "ITLANCTONF", "LANCTONF",
          "GRADEPED", "EXPEDICAO", "PARAMEXPED", "INSCRESTAD", "FILIAL", "MUNICIPIO", "ESTADO", "ROTATRANS", "EMPRESA"})
        execDirect(conn, QString("DELETE FROM %1").arg(t));

    Rng rng{opt.seed};
    const qint64 today = core::Date::today().wholeDays();

    Inserter empresa(conn, "EMPRESA", {"CDEMPRESA", "NMEMPRESA", "NMRAZSOCEMPR"});
    empresa({"01", "Distribuidora Exemplo", "Distribuidora Exemplo de Alimentos Ltda"});
    empresa({"02", "Exemplo Atacado", "Exemplo Atacado e Logística S.A."});
    Inserter estado(conn, "ESTADO", {"CDPAIS", "SGESTADO", "CDESTADOIBGE", "NMESTADO"});
    estado({"1058", "SP", "35", "São Paulo"});
    estado({"1058", "MG", "31", "Minas Gerais"});
    estado({"1058", "RJ", "33", "Rio de Janeiro"});
    Inserter municipio(conn, "MUNICIPIO", {"CDPAIS", "SGESTADO", "CDMUNICIPIO", "NMMUNICIPIO"});
    municipio({"1058", "SP", "0001", "São Paulo"});
    municipio({"1058", "SP", "0002", "Campinas"});
    municipio({"1058", "MG", "0003", "Belo Horizonte"});
    municipio({"1058", "RJ", "0004", "Rio de Janeiro"});
    Inserter rota(conn, "ROTATRANS", {"CDROTATRANS", "NMROTATRANS"});
    const char* routeNames[] = {"Centro",     "Zona Norte", "Zona Sul", "Zona Leste",
                                "Zona Oeste", "Interior",   "Litoral",  "Capital"};
    for (int r = 0; r < 8; ++r)
        rota({"R" + pad(r + 1, 5), QString("Rota %1").arg(routeNames[r])});

    Inserter filial(conn, "FILIAL", {"CDFILIAL", "NMFILIAL", "CDEMPRESA", "CDINSCESTA", "CDSERIE"});
    Inserter inscr(conn, "INSCRESTAD",
                   {"CDEMPRESA", "CDINSCESTA", "NMREPRINSEST", "IDTPIJURIEST", "NRINSJURIEST", "SGESTADO", "NRCEPIEST",
                    "DSENDEIEST", "NMBAIRIEST", "NRTELEIEST", "NRFAXIEST", "CDPAIS", "CDMUNICIPIO", "IDTPAMBIENTENFE",
                    "NRSERIECERTIFIC"});
    Inserter param(conn, "PARAMEXPED", {"CDFILIAL", "IDGERPRODEST", "IDREPLITRANS", "IDTPEXPPEDIDO"});
    Inserter expedicao(conn, "EXPEDICAO",
                       {"CDFILIAL", "NREXPEDICAO", "CDVIATURA", "NRPLACA", "CDROTATRANS", "DTEXPEDICAO"});
    Inserter grade(conn, "GRADEPED", {"CDFILIAL", "NRGRADEPED", "DTGRADE"});
    auto qty = [&db](double v) { return qtyBind(db, Quantity::fromDouble(v)); };
    Inserter saldo(conn, "SALDOESTQ", {"CDFILIAL", "CDPRODUTO", "QTSALDO"});
    const int nShip = std::max(5, opt.entries / 40);
    const int nProducts = 50;
    for (const Branch& b : kBranches) {
        filial({b.code, b.name, b.company, b.registration, "1"});
        inscr({b.company, b.registration, QString("Responsável %1").arg(b.code), "J",
               "12345678000" + QString(b.code).right(3), b.state, "01000-000", QString("Rua Exemplo, %1").arg(b.code),
               "Centro", "(11) 3000-0000", "", "1058", b.municipio, "2", QString("5A1F0C%1").arg(b.code)});
        param({b.code, b.gerProdEst, b.repliTrans, b.tpExpPedido});
        if (b.shipments)
            for (int s = 1; s <= nShip; ++s)
                expedicao({b.code, pad(s, 10), pad(s % 40 + 1, 4), QString("ABC%1").arg(pad(1000 + s % 9000, 4)),
                           "R" + pad(s % 8 + 1, 5), today - (s % opt.spreadDays)});
        for (int p = 1; p <= nProducts; ++p)
            // Two products in 0004 hold no stock: replicas of them cannot be undone.
            saldo({b.code, "P" + pad(p, 9), qty((QString(b.code) == "0004" && p > nProducts - 2) ? 0 : 100000)});
    }
    for (int d = 0; d < std::max(opt.spreadDays, 10); ++d)
        for (char g : {'A', 'B'})
            grade({"0002",
                   QString("GRADE %1 %2").arg(core::Date{double(today - d)}.toQDate().toString("dd/MM/yyyy")).arg(g),
                   today - d});

    Inserter lancto(conn, "LANCTONF",
                    {"CDFILIAL",     "NRLANCTONF", "DTENTRSAID",  "NREXPEDICAO", "NRLANCESTQ",    "CDCLIENTE",
                     "NMRAZSOCCLIE", "NRNOTAFISC", "DTEMISSAO",   "IDSISTEMA",   "NMFANTCLIE",    "IDSTATUS",
                     "IDSTATUSNFE",  "CDFILIEMIT", "NRACESSONFE", "CDEMPRESA",   "IDTIPOEMISNFE", "CDINSCESTA",
                     "CDROTATRANS",  "NRGRADEPED", "NRVERSAO"});
    Inserter item(conn, "ITLANCTONF",
                  {"CDFILIAL", "NRLANCTONF", "NRSEQITPROD", "CDARVPROD", "CDPRODUTO", "NMPRODUTO", "QTITEMPROD",
                   "VRUNITITEM", "VRTOTAITEM", "CDFILIALPED", "NRPEDIDO", "NRITEMPED", "CDFILIMOVI", "CDALMOXARIFE",
                   "CDLOCALESTOQ", "NRLOTEESTQ", "NRSUBLOTE", "CDPRODESTO", "VRFATOCONV"});
    Inserter mov(conn, "ITLANCTOEST",
                 {"CDFILIAL", "NRLANCESTQ", "NRSEQUITEM", "NRSEQITPROD", "CDARVPROD", "CDPRODUTO", "NMPRODUTO",
                  "QTLANCTOEST", "VRUNILANCTO", "DTLANCMOVI", "VRTOTLANCTO", "IDTIPOMOVI", "CDFILIMOVI", "CDPRODMOVI",
                  "PRODMOVI"});
    Inserter replic(conn, "DOCREPLIC",
                    {"CDFILIAL", "NRLANCTONF", "CDFILIALREPLIC", "NRLANCTONFDEST", "CDSERIE", "IDENTRSAIDOP",
                     "DESCOPER", "TIPO", "IDSTATUS"});
    Inserter conta(conn, "CONTAGERADA",
                   {"CDFILIAL", "NRLANCTONF", "CDFILIALPAG", "NRLANCTOPAG", "NRSEQVENPAG", "NRPARCELAPAG",
                    "CDFILIALREC", "NRLANCTOREC", "NRSEQVENREC", "NRPARCELAREC", "CDEMPRESA", "NRLANCTBDOC",
                    "IDQUITADA", "IDMAPAAPURADO"});
    Inserter situ(conn, "SITUACAONFE", {"NRACESSONFE", "CDRETORNO", "DSMENSAGEM"});

    std::map<QString, int> nextNumber, nextDest;
    const char* statuses = "PPPPPPPPPPAAEEECCLLL";
    // Stored authority answers for rejected NF-e, in turn: authorised, denied,
    // another code, a bare message, and no answer at all (unknown key, 217).
    const QVariant kNull;
    const QList<std::pair<QVariant, QString>> answers = {
        {100, ""},
        {150, ""},
        {110, ""},
        {301, ""},
        {302, ""},
        {204, ""},
        {kNull, "108 - Serviço Paralisado Momentaneamente (curto prazo)"},
        {kNull, "*"}};
    int rejected = 0;
    for (int i = 0; i < opt.entries; ++i) {
        const int pick = i % 10;
        const Branch& b = kBranches[pick < 7 ? 0 : pick - 6];
        const QString br = b.code;
        const int num = ++nextNumber[br];
        const QString nr = pad(num, 10);
        const qint64 day = today - rng.below(opt.spreadDays);
        const QString status = QString(statuses[rng.below(20)]);
        QString nfe;
        if (status == "P")
            nfe = QStringList{"", "C", "P", "R", "R"}[rng.below(5)];
        else if (status == "E")
            nfe = QStringList{"A", "T", "D"}[rng.below(3)];
        else if (status == "A")
            nfe = QStringList{"", "P"}[rng.below(2)];
        else if (status == "C")
            nfe = "C";
        else
            nfe = QStringList{"", "A"}[rng.below(2)];
        QString key = QString("%1%2%3%4")
                          .arg(QString(b.state) == "SP"       ? "35"
                                   : QString(b.state) == "MG" ? "31"
                                                              : "33")
                          .arg(pad(day % 10000, 4))
                          .arg(pad(qint64(br.toInt()) * 1000000000000ll + num, 28))
                          .arg(pad(qint64(rng.next() % 10000000000ull), 10))
                          .left(43);
        // A valid check digit, so that the national port accepts demo keys too.
        key += QString::number(sefaz::accessKeyCheckDigit(key));
        if (nfe == "R") {
            const auto& a = answers[rejected++ % answers.size()];
            if (a.second != "*")
                situ({key, a.first, a.second.isEmpty() ? kNull : QVariant(a.second)});
        }
        const QString ship = b.shipments ? pad(rng.below(nShip) + 1, 10) : QString();
        const QString route = "R" + pad(rng.below(8) + 1, 5);
        const QString gradeName = QString(b.code) == "0002"
            ? QString("GRADE %1 %2")
                  .arg(core::Date{double(day)}.toQDate().toString("dd/MM/yyyy"))
                  .arg(rng.below(2) ? 'A' : 'B')
            : QString();
        const QString nrEstq = "9" + pad(num, 9);
        const int client = rng.below(500) + 1;
        lancto({br,
                nr,
                day,
                ship.isEmpty() ? kNull : QVariant(ship),
                nrEstq,
                "C" + pad(client, 8),
                QString("Cliente %1 Comércio de Alimentos Ltda").arg(client),
                pad(num, 9),
                day,
                "EXP",
                QString("Mercado %1").arg(client),
                status,
                nfe.isEmpty() ? kNull : QVariant(nfe),
                br,
                key,
                b.company,
                "1",
                b.registration,
                route,
                gradeName.isEmpty() ? kNull : QVariant(gradeName),
                1});
        const int nItems = 1 + rng.below(4);
        QStringList products;
        for (int it = 1; it <= nItems; ++it) {
            const int p = rng.below(nProducts) + 1;
            const QString prod = "P" + pad(p, 9);
            products << prod;
            const double qt = 1 + rng.below(20), vr = 2.5 + rng.below(4000) / 100.0;
            const QString seq = pad(it, 4);
            item({br, nr, seq, QString("01.%1.%2").arg(pad(p / 10, 2), pad(p, 4)), prod, QString("Produto %1").arg(p),
                  qty(qt), vr, qt * vr, br, pad(num * 3 + it, 10), pad(it, 10), br, "000001", "A01",
                  QString("L%1").arg(pad(day % 1000, 6)), "0001", prod, 1.0});
            mov({br, nrEstq, pad(it * 2 - 1, 4), seq, QString("01.%1.%2").arg(pad(p / 10, 2), pad(p, 4)), prod,
                 QString("Produto %1").arg(p), qty(qt), vr, day, qt * vr, "S", br, prod,
                 QString("01.%1.%2").arg(pad(p / 10, 2), pad(p, 4))});
            if (QString(b.gerProdEst) == "3") // sub-product recorded beside the main product
                mov({br, nrEstq, pad(it * 2, 4), seq, QString("02.%1").arg(pad(p, 4)), "S" + pad(p, 9),
                     QString("Subproduto %1").arg(p), qty(qt * 2), 0.5, day, qt, "S", br, "S" + pad(p, 9),
                     QString("02.%1").arg(pad(p, 4))});
        }
        if ((br == "0001" || br == "0002") && rng.below(6) == 0) {
            const QString dest = rng.below(2) ? "0003" : "0004";
            const QString rs = QString("PAE")[rng.below(3)];
            replic({br, nr, dest, pad(++nextDest[dest] + 5000000, 10), "1", "E",
                    "Transferência entre filiais - entrada", "Nota de entrada por transferência", rs});
        }
        if (rng.below(9) == 0) {
            const int kind = rng.below(6); // mostly open accounts; some settled, some in a computed commission map
            conta({br, nr, br, pad(num + 7000000, 10), "01", "01", br, pad(num + 8000000, 10), "01", "01", b.company,
                   pad(num, 12), kind == 4 ? "S" : "N", kind == 5 ? "S" : "N"});
        }
    }
    tx.commit();
}

} // namespace server
