#include "exp01800.h"

#include <screens/query/conlancto.h>

#include <client/hostapi.h>
#include <host/hostglobals.h>

#include <QMainWindow>

namespace {

// Unit start-up: runs once when the host loads the library.
struct UnitStartup {
    UnitStartup() { boIdCriado = false; }
} startup;

} // namespace

void criaConsultaLancto()
{
    core::host().pushBusyCursor();
    core::ScopeExit restoreCursor([] { core::host().popBusyCursor(); });

    if (!boIdCriado) {
        // A failure here (the servers not answering, say) propagates to the
        // host; nothing was recorded, so the next call tries again.
        frmConLancto = host::TfrmPadrao::create<TfrmConLancto>(host::mainWindow());
        boIdCriado = true; // the screen clears frmConLancto itself when released
    }
    frmConLancto->show();
    frmConLancto->setWindowStateNormal();
}

void IniProc()
{
    criaConsultaLancto();
}

void LoadProc(const core::Variant*)
{
    criaConsultaLancto();
}
