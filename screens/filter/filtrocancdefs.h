#pragma once
// Static definition of the cancellation filter dialog's data: its catalogue
// and the fields of its pick lists.

#include <core/clientdataset.h>

#include <QStringList>

namespace filtrocanc {

/// Lines "key|text" of the dialog's catalogue, in order.
QStringList catalogueLines();

void declareExpedicao(core::ClientDataset& ds);
void declareRota(core::ClientDataset& ds);
void declareGrade(core::ClientDataset& ds);

} // namespace filtrocanc
