#pragma once
// Lookup button: the pick dialog over a data source, its choice written into
// an associated edit.

#include "speedbutton.h"

#include "client/clientdataset.h"

#include <QPointer>

#include <functional>

namespace host {

/// Lookup button bound to an associated control and a data source. A click
/// runs onBeforePesq (which may clear `continue`), then the pick dialog
/// (core::host().pickRow) over the data source's dataset with `title` and
/// `emptyError`; when a row was chosen the associated control, if it is an
/// edit, receives the first field of the chosen row, then onAfterPesq runs.
/// When onClick is set it replaces that whole sequence.
class TBtnPesquisa : public TSpeedButton {
    Q_OBJECT
public:
    explicit TBtnPesquisa(const QString& objectName, QWidget* parent = nullptr);
    QPointer<QWidget> edit; ///< associated control
    QString title;
    QString emptyError;
    QPointer<core::DataSource> dataSource;
    std::function<void(bool& continuePesq)> onBeforePesq;
    Handler onAfterPesq;

    /// The built-in lookup (what a click runs when onClick is not set);
    /// true when a row was chosen. Exceptions propagate.
    bool Pesquisa();
};

} // namespace host
