#pragma once
// The entry query a confirmed filter sends: the dialog's choices read once
// into a plain record, and the eleven arguments of GetLanctoNF built from it
// and the branch by one function, so that the mapping is checked by name and
// without any window.

#include <contracts/servers.h>

#include <core/variant.h>

#include <QString>

namespace filtrocanc {

/// The filter dialog's choices at a confirmation, as its controls show them.
struct EscolhasFiltro {
    core::Date dataIni;     ///< depInicial
    core::Date dataFin;     ///< depFinal
    bool todasRotas = true; ///< rbtTodosRota checked
    QString listaRotas;     ///< stRota: the routes last picked
    /// Which shipment choice is checked (rbtTodosNrExp, rbtLstNrExp, rbtIntervalo).
    enum class Expedicao { Todas, Lista, Intervalo } expedicao = Expedicao::Todas;
    QString listaExpedicoes; ///< stNrExp: the shipments last picked
    QString expDe;           ///< text of medDENrExp
    QString expAte;          ///< text of medAteNrExp
    bool todasGrades = true; ///< rbtTGrade checked
    QString grade;           ///< text of edtNumeroG
};

/// The eleven arguments of GetLanctoNF for these choices and `filial`, the
/// branch typed on the query screen: the dates as dates, the rest as strings,
/// "T" where no restriction of that kind applies. A list or an interval not
/// chosen goes empty, whatever the choices still remember of it.
contracts::cancelnota::LanctoNFArgs argumentosConsulta(const EscolhasFiltro& e, const QString& filial);

} // namespace filtrocanc
