#pragma once
// The pick and multi-pick dialog ("frmPesquisar", "frmPesquisaLista"): a
// filter edit ("edtLocalizar") over a list of the dataset's visible fields
// ("dbgPesquisa"). Typing in the list goes to the filter, which keeps the
// rows where any column contains the text; Enter accepts, Escape cancels.
// The multi-pick adds a check column in front (the dataset's own IDMARCADO
// field is not shown beside it); Space or a click on the box toggles a row.
// The dialog never moves the dataset: the caller reads the chosen or marked
// dataset positions after exec().

#include "anycolumnfilter.h"

#include "client/datasetmodel.h"

#include <QDialog>
#include <QList>

class QLineEdit;
class QPushButton;
class QTableView;

namespace host {

class PickDialog : public QDialog {
    Q_OBJECT
public:
    PickDialog(core::ClientDataset& ds, const QString& title, bool multi, QWidget* parent);

    core::DatasetModel& model() { return model_; }
    /// The chosen dataset position, -1 when none.
    int currentSourceRow() const;
    /// Marked dataset positions, in the dataset's order.
    QList<int> markedRowsInOrder() const;

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    core::DatasetModel model_;
    AnyColumnFilter proxy_;
    bool multi_;
    QLineEdit* filter_;
    QTableView* view_;
    QPushButton* ok_;
};

} // namespace host
