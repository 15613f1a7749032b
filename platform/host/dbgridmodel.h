#pragma once
// The grid's model: the dataset model over the grid's columns, plus what
// only a grid shows: column titles in the column's own font (a symbol font's
// text mapped to the dingbats it stands for, centred) and a data cell's
// tooltip from the grid's hint hook, asked with the dataset positioned on the
// cell's row.

#include "client/datasetmodel.h"

#include <QFont>

namespace host {

class DBGrid;

class DBGridModel : public core::DatasetModel {
    Q_OBJECT
public:
    explicit DBGridModel(DBGrid* grid);
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    DBGrid* grid_;
};

/// True for the symbol fonts of the original platform (Monotype Sorts, Zapf
/// Dingbats), which have no equivalent here.
bool isDingbatFont(const QFont& f);
/// Text written in such a font as the Unicode dingbats it stands for.
QString dingbatText(const QString& text);

} // namespace host
