#pragma once
// Static definition of the entry query screen's data: the message catalogue
// and the fields of every client dataset and host-database query. Kept apart
// from the widgets so it can be checked without a window.

#include <client/clientdataset.h>

#include <QStringList>

namespace conlancto {

/// Lines "key|text" of the screen's catalogue, in order.
QStringList catalogueLines();

void declareLanctoNF(core::ClientDataset& ds);
void declareItensLanctoNF(core::ClientDataset& ds);
void declareItLanctoEst(core::ClientDataset& ds);
void declareContaGerada(core::ClientDataset& ds);
void declareErroReplic(core::ClientDataset& ds);
void declareParamExpedicao(core::ClientDataset& ds);
void declareReplicAprov(core::ClientDataset& ds);
void declareFilial(core::ClientDataset& ds);
void declareInscrEstad(core::ClientDataset& ds);

/// Order of the entry list.
inline const char* const kLanctoNFIndex = "DTENTRSAID; NRLANCTONF; NREXPEDICAO";

/// Display formats of quantities and values.
inline const char* const kFmtQuantidade = "#,##0.00000";
inline const char* const kFmtValor = "#,##0.00";

} // namespace conlancto
