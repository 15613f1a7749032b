#include "filtrocancdefs.h"

#include "screens/query/conlancto.h"

#include <core/errors.h>

using core::FieldDef;
using core::FieldType;

namespace filtrocanc {

QStringList catalogueLines()
{
    return {
        QStringLiteral("NR_EXP|Não há expedição cadastrada."),
        QStringLiteral("EXPEDICAO|Expedição"),
        QStringLiteral("EXP_VAZIA|Expedição deve ser informada."),
        QStringLiteral("VEICULO|Veículo"),
        QStringLiteral("ROTA_VAZIA|Rota deve ser informada."),
        QStringLiteral("VEIC_VAZIA|Veículo deve ser informado."),
        QStringLiteral("ATE_DE|Nr. expedição inicial deve ser menor que nr. expedição final."),
        QStringLiteral("DE_VAZIA|Nr. expedição inicial deve ser informado."),
        QStringLiteral("ATE_VAZIA|Nr. expedição final deve ser informado."),
        QStringLiteral("DataIni_Deve|Data inicial deve ser informado."),
        QStringLiteral("DataFinal_Deve|Data final deve ser informado."),
        QStringLiteral("DataIni>DataFin|Data inicial deve ser menor ou igual a data final."),
        QStringLiteral("ROTA|Rota"),
        QStringLiteral("N_ROTA|Não há rota cadastrada."),
        QStringLiteral("data| não é uma data válida."),
        QStringLiteral("Grade_Empty|Não há Grade de Pedidos para o período informado."),
        QStringLiteral("Grade_Deve|Grade de Pedidos deve ser Informada."),
    };
}

void declareExpedicao(core::ClientDataset& ds)
{
    ds.addString("IDMARCADO", 1, {}, true, /*fixed*/ true);
    ds.addString("CDFILIAL", 4, {}, false);
    ds.addString("NREXPEDICAO", 10, QStringLiteral("Nr.Expedição"));
    ds.addString("CDVIATURA", 4, {}, false);
    ds.addString("NRPLACA", 8, QStringLiteral("Veiculo(Nr.Placa)"));
}

void declareRota(core::ClientDataset& ds)
{
    ds.addField(FieldDef{"CDROTATRANS", FieldType::String, 6, false, true}, QStringLiteral("Código"));
    ds.addString("NMROTATRANS", 40, QStringLiteral("Nome"));
}

void declareGrade(core::ClientDataset& ds)
{
    ds.addString("NRGRADEPED", 40, QStringLiteral("Descrição da Grade"));
}

QString tipoExpedicao(const core::ClientDataset* cdsParamExpedicao)
{
    if (!cdsParamExpedicao || cdsParamExpedicao->isEmpty())
        return QString();
    const core::Field* f = cdsParamExpedicao->findField(QStringLiteral("IDTPEXPPEDIDO"));
    return f && !f->isNull() ? f->asString() : QString();
}

TfrmConLancto& telaConsulta()
{
    if (!frmConLancto)
        throw core::Error(QStringLiteral("A tela de consulta de lançamentos não está aberta."));
    return *frmConLancto;
}

} // namespace filtrocanc
