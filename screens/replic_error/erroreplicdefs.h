#pragma once
// Static definition of the replication-error dialog's data.

#include <client/clientdataset.h>

#include <QStringList>

namespace erroreplic {

/// Lines "key|text" of the dialog's catalogue.
QStringList catalogueLines();
/// The replicated documents shown, with their column labels.
void declareErroReplic(core::ClientDataset& ds);

} // namespace erroreplic
