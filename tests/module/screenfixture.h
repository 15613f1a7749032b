#pragma once
// Fixture of the module's screen tests: a host context, scripted host
// services, the in-process fake of the application servers and a small host
// database (the server's schema on a temporary SQLite file, with demo data),
// so the screen can be created, driven and inspected headless.

#include <screens/query/conlancto.h>

#include <contracts/servers.h>

#include <core/datapacket.h>
#include "doubles/fakeserver.h"
#include "doubles/scriptedhost.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <thread>

namespace server {
class AppServer;
class Database;
class SefazPort;
} // namespace server

namespace contracts::cancelnota {
void PrintTo(const LanctoNFArgs& a, std::ostream* os);
} // namespace contracts::cancelnota

namespace testing_module {

/// Server names as the screen's connections use them.
inline const QString kCancel = QStringLiteral("Exp01800.rdmCancelNota");
inline const QString kSituacao = QStringLiteral("DFS52000.rdmSituacao");

/// One entry of the list, with the fields the screen reads; dates are day
/// offsets from today.
struct Entry {
    QString nr; ///< NRLANCTONF
    QString idstatus = "P";
    QString idstatusnfe = "R";
    QString idcheck = "N";
    int dayOffset = 0; ///< DTENTRSAID = today + offset
    QString cdfilial = "0001";
    QString nrexpedicao = "0000000001";
    QString nrlancestq; ///< empty: same as nr
    QString nrnotafisc; ///< empty: "NF" + nr
};

/// A packet in the layout of the entry list.
core::DataPacket lanctoPacket(const std::vector<Entry>& entries);
/// A packet of `n` items (NRSEQITPROD "0001".. ) of entry `nr`.
core::DataPacket itemsPacket(const QString& nr, int n, const QString& idcheck = "N");
/// A packet of `n` generated accounts.
core::DataPacket contasPacket(int n);
/// A packet of `n` stock movements.
core::DataPacket stockPacket(int n);
/// The incoming entry replication created (GetReplicAprov's layout); an
/// empty `idstatus` gives a packet without rows.
core::DataPacket replicAprovPacket(const QString& nr, const QString& filial, const QString& idstatus);
/// Replicated documents (layout of cdsErroReplic), one per origin entry.
core::DataPacket docReplicPacket(const QStringList& origens);
/// Values of a dataset column, top to bottom (none when closed), for one comparison.
QStringList columnValues(const core::ClientDataset& ds, const QString& field);
/// Shipping parameters of a branch.
core::DataPacket paramPacket(const QString& idgerprodest = "1", const QString& idtpexppedido = "PED");

/// Ticks the rows whose `keyField` holds one of `keys` as the grids leave a
/// ticked row (IDCHECK "S", posted); returns how many were found.
int tickRows(core::ClientDataset& ds, const QString& keyField, const QStringList& keys);

/// The arguments of a GetLanctoNF call as they went out, read back into the
/// record in the server's order, so that tests name what they check.
contracts::cancelnota::LanctoNFArgs lanctoNFArgsOf(const std::vector<core::Variant>& args);

class ScreenFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Opens the screen as the host does (IniProc) and returns it, with
    /// nothing ticked.
    TfrmConLancto* open();
    /// Closes the screen and lets the event loop release it. The tick
    /// counters, which outlive a screen, are set back to zero.
    void closeScreen();
    static void resetTickCounters();
    /// Runs pending events (deferred deletes included).
    static void settle();
    /// A mouse click on a grid's data cell (scrolled into view first), as the
    /// operator ticks; then settles.
    static void clickCell(host::DBGrid* grid, int row, int col = 0);
    /// A mouse click on a grid's column title; then settles.
    static void clickTitle(host::DBGrid* grid, int col = 0);

    core::ScriptedHost host;
    core::FakeServerScope fake;
    QTemporaryDir dir;
    QString hostDbConnection;
};

/// The real application server, in process, on an ephemeral loopback port
/// over an SQLite file, reached through the HTTP transport (installed as the
/// default for the scope's life) and set as the host's server address.
class RealServerScope {
public:
    /// `sefaz` is the server's way to the tax authority (null: the simulator).
    explicit RealServerScope(const QString& sqliteFile, std::shared_ptr<server::SefazPort> sefaz = nullptr);
    ~RealServerScope();
    int port() const;

private:
    std::unique_ptr<server::Database> db_;
    std::unique_ptr<server::AppServer> srv_;
    std::thread serving_;
    std::unique_ptr<core::TransportInstall> http_;
};

} // namespace testing_module
