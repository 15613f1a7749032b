#pragma once
// Static definition of the cancellation filter dialog's data: its catalogue
// and the fields of its pick lists.

#include <client/clientdataset.h>

#include <QStringList>

class TfrmConLancto;

namespace filtrocanc {

/// Lines "key|text" of the dialog's catalogue, in order.
QStringList catalogueLines();

void declareExpedicao(core::ClientDataset& ds);
void declareRota(core::ClientDataset& ds);
void declareGrade(core::ClientDataset& ds);

/// IDTPEXPPEDIDO of the shipping parameters' current row; empty when there
/// is no dataset, it is closed or holds no row.
QString tipoExpedicao(const core::ClientDataset* cdsParamExpedicao);

/// The query screen the dialog works for (frmConLancto); the dialog is
/// reached only from it, so its absence is a core::Error, not a crash.
TfrmConLancto& telaConsulta();

} // namespace filtrocanc
