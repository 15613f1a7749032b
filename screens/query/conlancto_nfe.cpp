// NF-e status refresh run before every cancellation: the tax authority's
// present answer on rejected invoices, stored through the situation server.
// An invoice that the authority has meanwhile accepted or denied leaves the
// cancellation.

#include "conlancto.h"

#include <contracts/servers.h>

#include <client/hostapi.h>

using namespace core;
using namespace cli_exp01800;
namespace situacao = contracts::situacao;

namespace {

/// The text as a whole number; anything else ends the refresh with the
/// conversion's error.
int inteiro(const QString& text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok)
        throw Error(QStringLiteral("'%1' não é um valor inteiro válido.").arg(text));
    return n;
}

/// New NF-e status for the authority's status code: use authorised "A",
/// use denied "D", anything else "X".
QString statusDaSefaz(int codigo)
{
    switch (codigo) {
    case 100:
    case 150: return QStringLiteral("A");
    case 110:
    case 301:
    case 302: return QStringLiteral("D");
    default: return QStringLiteral("X");
    }
}

/// Both situation methods answer an array [flag, text].
Variant parResposta(const Variant& payload, const char* metodo)
{
    if (!payload.isArray() || payload.count() < 2)
        throw Error(QStringLiteral("%1: resposta inesperada do servidor (esperados dois elementos).")
                        .arg(QLatin1String(metodo)));
    return payload;
}

} // namespace

void TfrmConLancto::AtualizaStatusNF()
{
    ClientDataset& ds = *cdsLanctoNF;
    auto campo = [&ds](const char* nome) { return ds.fieldByName(QLatin1String(nome)).asString(); };
    auto registro = [this](const char* nome) { return qryInscrEstad->fieldByName(QLatin1String(nome)).asString(); };

    // The state registration of the current entry's company; a registration
    // that is not found leaves its fields empty and the calls go on with them.
    auto abreInscricao = [&] {
        qryInscrEstad->Close();
        qryInscrEstad->ParamByName(QStringLiteral("P_CDEMPRESA"), campo("CDEMPRESA"));
        qryInscrEstad->ParamByName(QStringLiteral("P_CDINSCESTA"), campo("CDINSCESTA"));
        qryInscrEstad->Open();
    };
    auto consulta = [&] {
        return parResposta(CheckResultServ(situacao::GetSituacao(
                                               *netSituacao, registro("IDTPAMBIENTENFE"), registro("NRSERIECERTIFIC"),
                                               campo("NRACESSONFE"), registro("SGESTADO"), campo("CDEMPRESA"),
                                               registro("CDESTADOIBGE"), campo("IDTIPOEMISNFE"), campo("CDINSCESTA")),
                                           true, 0),
                           "GetSituacao");
    };
    // Stores the new status; the server's "N" is shown and ends the refresh.
    auto grava = [&](const QString& novo) {
        Variant statusNovo(novo);
        const Variant r = parResposta(
            CheckResultServ(situacao::GetAtual_Situ(*netSituacao, Operador(), campo("CDFILIAL"), campo("NRLANCTONF"),
                                                    campo("IDSTATUSNFE"), statusNovo, registro("IDTPAMBIENTENFE"),
                                                    registro("NRSERIECERTIFIC"), campo("NRACESSONFE"),
                                                    registro("SGESTADO"), registro("CDESTADOIBGE"),
                                                    campo("IDTIPOEMISNFE"), campo("CDEMPRESA"), campo("CDINSCESTA")),
                            true, 0),
            "GetAtual_Situ");
        if (r[0].toString() == QLatin1String("N"))
            MensErro(r[1].toString(), true);
    };

    if (!ds.active())
        return;

    if (inNotasMarcadas >= 1) {
        // Ticked mode: every ticked rejected entry, in the list's order. An
        // entry whose status moved on is unticked with a warning; the reload
        // that ends the cancellation sets the counter right.
        for (ds.first(); !ds.eof(); ds.next()) {
            if (campo("IDSTATUSNFE") != QLatin1String("R") || campo("IDCHECK") != QLatin1String("S"))
                continue;
            abreInscricao();
            const Variant sit = consulta();
            const QString novo = sit[0].toString() == QLatin1String("S") ? statusDaSefaz(inteiro(sit[1].toString()))
                                                                         : QStringLiteral("X");
            if (novo.isEmpty() || novo == QLatin1String("X") || novo == campo("IDSTATUSNFE"))
                continue;
            grava(novo);
            ds.edit();
            ds.fieldByName(QStringLiteral("IDCHECK")).setAsString(QStringLiteral("N"));
            ds.post();
            MensAviso(msgPadrao.Msg(QStringLiteral("Status")) + campo("NRNOTAFISC")
                      + msgPadrao.Msg(QStringLiteral("Status_1")));
        }
        return;
    }

    // Current-entry mode: the current entry alone, ticked or not.
    if (ds.isEmpty() || campo("IDSTATUSNFE") != QLatin1String("R"))
        return;
    abreInscricao();
    const Variant sit = consulta();
    QString novo;
    if (sit[0].toString() == QLatin1String("S")) {
        novo = statusDaSefaz(inteiro(sit[1].toString()));
    } else {
        // 217: the authority has no record of the access key; the
        // cancellation goes on. Any other answer is shown and ends it; a
        // message without a code in front is shown as it came.
        const QString mensagem = sit[1].toString();
        bool temCodigo = false;
        const int codigo = mensagem.left(3).toInt(&temCodigo);
        if (!temCodigo || codigo != 217)
            MensErro(mensagem, true);
    }
    if (novo.isEmpty() || novo == campo("IDSTATUSNFE"))
        return;
    grava(novo);
    inItensMarcados = 0;
    Habilita();
    pgcPadrao->setActivePage(tshFolhaDados);
    sbtVerificarClick();
    MensErro(msgPadrao.Msg(QStringLiteral("Op_Bloq")), true);
}
