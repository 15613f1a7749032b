// The cancellation filter dialog driven headless: shown modally (the test
// acts from inside the modal loop, then cancels) or run hidden, against the
// scripted host and the in-process server fake.

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>
#include <screens/filter/filtrocancdefs.h>
#include <screens/filter/filtroconsulta.h>

#include <host/frmfiltropadrao.h>

#include <client/hostapi.h>

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

#include <functional>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

using namespace core;
using namespace testing_module;
using cli_exp01801::Filtro;

namespace {

Date dayFromToday(int offset)
{
    return Date{double(Date::today().wholeDays() + offset)};
}

template <class Declare>
DataPacket packetOf(Declare declare, const QList<PacketRow>& rows)
{
    ClientDataset ds;
    declare(ds);
    QList<FieldDef> defs;
    for (int i = 0; i < ds.fieldCount(); ++i)
        defs.append(ds.field(i).def());
    DataPacket p(defs);
    for (const PacketRow& r : rows)
        p.appendRow(r);
    return p;
}

DataPacket shipments(const QStringList& numbers)
{
    QList<PacketRow> rows;
    for (const QString& n : numbers)
        rows.append({Variant("N"), Variant("0001"), Variant(n), Variant("V001"), Variant("ABC1234")});
    return packetOf(filtrocanc::declareExpedicao, rows);
}

DataPacket grades(const QStringList& names)
{
    QList<PacketRow> rows;
    for (const QString& n : names)
        rows.append({Variant(n)});
    return packetOf(filtrocanc::declareGrade, rows);
}

/// An entry list with these entry numbers.
DataPacket entries(const QStringList& numbers)
{
    std::vector<Entry> list;
    for (const QString& n : numbers) {
        Entry e;
        e.nr = n;
        list.push_back(e);
    }
    return lanctoPacket(list);
}

/// The eleven arguments of a GetLanctoNF call as they went out.
std::vector<Variant> argsOf(const FakeTransport::Record& r)
{
    return r.request.args;
}

std::vector<Variant> defaultArgs()
{
    return {Variant("0001"),
            Variant(dayFromToday(-2)),
            Variant(dayFromToday(0)),
            Variant(""),
            Variant("T"),
            Variant(""),
            Variant("T"),
            Variant(""),
            Variant(""),
            Variant("T"),
            Variant("T")};
}

} // namespace

// The dialog's choices become the eleven query arguments by one function;
// checked by name, without any window. A list or an interval not chosen goes
// empty although the choices still remember it.
TEST(FilterQuery, ChoicesBecomeTheElevenArgumentsByName)
{
    using filtrocanc::EscolhasFiltro;
    using E = EscolhasFiltro::Expedicao;
    EscolhasFiltro remembered;
    remembered.dataIni = Date{46000};
    remembered.dataFin = Date{46005};
    remembered.listaRotas = "'R1','R2'";
    remembered.listaExpedicoes = "'0000000001'";
    remembered.expDe = "0000000003";
    remembered.expAte = "0000000009";
    remembered.grade = "GRADE NORTE";
    struct Case {
        E expedicao;
        bool todasRotas, todasGrades;
        const char *stRotas, *stTodasRotas, *stExpedicoes, *stTodasExpedicoes, *stExpDe, *stExpAte, *stSemIntervalo,
            *stGrade;
    };
    const Case cases[] = {
        {E::Todas, true, true, "", "T", "", "T", "", "", "T", "T"},
        {E::Lista, false, false, "'R1','R2'", "", "'0000000001'", "", "", "", "T", "GRADE NORTE"},
        {E::Intervalo, true, false, "", "T", "", "T", "0000000003", "0000000009", "", "GRADE NORTE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.expedicao));
        EscolhasFiltro e = remembered;
        e.expedicao = c.expedicao;
        e.todasRotas = c.todasRotas;
        e.todasGrades = c.todasGrades;
        const auto a = filtrocanc::argumentosConsulta(e, "0002");
        EXPECT_EQ(a.stFilial, Variant("0002"));
        EXPECT_EQ(a.dtInicial, Variant(Date{46000}));
        EXPECT_EQ(a.dtFinal, Variant(Date{46005}));
        EXPECT_EQ(a.stRotas, Variant(c.stRotas));
        EXPECT_EQ(a.stTodasRotas, Variant(c.stTodasRotas));
        EXPECT_EQ(a.stExpedicoes, Variant(c.stExpedicoes));
        EXPECT_EQ(a.stTodasExpedicoes, Variant(c.stTodasExpedicoes));
        EXPECT_EQ(a.stExpDe, Variant(c.stExpDe));
        EXPECT_EQ(a.stExpAte, Variant(c.stExpAte));
        EXPECT_EQ(a.stSemIntervalo, Variant(c.stSemIntervalo));
        EXPECT_EQ(a.stGrade, Variant(c.stGrade));
    }
}

class FilterDialog : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        host::TfrmFiltroPadrao::setOptionsFile(dir.filePath("opcoes.ini"));
        discardDialog();
        screen = open();
        ASSERT_NE(screen, nullptr);
        fake.reset();
        fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket()));
        fake.setDefault(kCancel, "GetLanctoNF", FakeTransport::payload(entries({"0000000001"})));
        host.clearShown();
    }

    void TearDown() override
    {
        discardDialog();
        host::TfrmFiltroPadrao::setOptionsFile(QString());
        ScreenFixture::TearDown();
    }

    /// The dialog lives as long as the module; each test starts from a fresh one.
    static void discardDialog()
    {
        delete frmFiltroCanc;
        EXPECT_EQ(frmFiltroCanc, nullptr);
        Filtro = TFILTRO{};
    }

    static TfrmFiltroCanc& dialog()
    {
        CriaFiltroCancela(QStringLiteral("EXISTE"));
        return *frmFiltroCanc;
    }

    /// Shows the dialog modally; `act` runs inside the modal loop, after which
    /// the dialog is cancelled unless `act` confirmed it. Returns whether it
    /// was still shown when `act` ended.
    bool showAndRun(const std::function<void(TfrmFiltroCanc&)>& act)
    {
        bool stillShown = false;
        bool ran = false;
        // A timer of this scope: if the modal loop never ran it dies unfired.
        QTimer inside;
        inside.setSingleShot(true);
        QObject::connect(&inside, &QTimer::timeout, [&] {
            TfrmFiltroCanc& d = *frmFiltroCanc;
            EXPECT_TRUE(d.isVisible());
            act(d);
            ran = true;
            stillShown = d.isVisible();
            if (d.isVisible())
                d.close();
        });
        inside.start(0);
        CriaFiltroCancela(QStringLiteral("MOSTRA_FILTRO"));
        EXPECT_TRUE(ran);
        EXPECT_FALSE(frmFiltroCanc->isVisible());
        return stillShown;
    }

    /// Runs a handler the way a control does (aborts end it quietly).
    static bool run(const std::function<void()>& handler) { return core::dispatch(handler); }

    static void typeInterval(TfrmFiltroCanc& d, const QString& de, const QString& ate)
    {
        d.rbtIntervalo->click();
        d.medDENrExp->setText(de);
        run([&] { d.medDENrExpExit(); });
        d.medAteNrExp->setText(ate);
        run([&] { d.medAteNrExpExit(); });
    }

    /// The arguments of the last GetLanctoNF call, by name (all null when none went out).
    contracts::cancelnota::LanctoNFArgs lastQuery() const
    {
        const auto calls = fake.callsTo("GetLanctoNF");
        return calls.empty() ? contracts::cancelnota::LanctoNFArgs{} : lanctoNFArgsOf(argsOf(calls.back()));
    }

    TfrmConLancto* screen = nullptr;
};

// --- lifecycle ---------------------------------------------------------------------------

TEST_F(FilterDialog, FirstShowHasTheDefaultsWithListsIntervalAndGradeDisabled)
{
    showAndRun([](TfrmFiltroCanc& d) {
        EXPECT_EQ(d.lblCodTela->text(), "EXP01801");
        EXPECT_EQ(d.depInicial->GetDate(), dayFromToday(-2));
        EXPECT_EQ(d.depFinal->GetDate(), dayFromToday(0));
        EXPECT_TRUE(d.rbtTodosRota->isChecked());
        EXPECT_TRUE(d.rbtTodosNrExp->isChecked());
        EXPECT_TRUE(d.rbtTGrade->isChecked());
        EXPECT_FALSE(d.btpListaRota->isEnabled());
        EXPECT_FALSE(d.btpListaNrExp->isEnabled());
        for (QWidget* w : {static_cast<QWidget*>(d.lblDe), static_cast<QWidget*>(d.lblAte),
                           static_cast<QWidget*>(d.medDENrExp), static_cast<QWidget*>(d.medAteNrExp)})
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
        // No shipping parameters loaded yet: the grade box is off.
        EXPECT_FALSE(d.grbGrade->isEnabled());
        EXPECT_FALSE(d.edtNumeroG->isEnabled());
        EXPECT_TRUE(d.edtNumeroG->isReadOnly());
    });
    EXPECT_EQ(fake.calls().size(), 0u);
}

TEST_F(FilterDialog, ModeOtherThanTheTwoKeywordsOnlyCreatesTheDialog)
{
    CriaFiltroCancela(QStringLiteral("esconde_filtro"));
    ASSERT_NE(frmFiltroCanc, nullptr);
    TfrmFiltroCanc* first = frmFiltroCanc;
    CriaFiltroCancela(QStringLiteral("Mostra_Filtro"));
    EXPECT_EQ(frmFiltroCanc, first);
    EXPECT_FALSE(first->isVisible());
    EXPECT_EQ(fake.calls().size(), 0u);
    EXPECT_FALSE(screen->boFiltroAplicado);
}

TEST_F(FilterDialog, HiddenRunBeforeAnyDisplayLoadsTheDefaultFilter)
{
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(entries({"0000000011", "0000000012", "0000000013"})));
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));

    ASSERT_EQ(fake.count("GetParExpedicao"), 1);
    EXPECT_EQ(fake.callsTo("GetParExpedicao")[0].arg(0), Variant("0001"));
    const auto calls = fake.callsTo("GetLanctoNF");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(argsOf(calls[0]), defaultArgs());
    EXPECT_EQ(calls[0].request.byRef, std::vector<bool>(11, true));
    EXPECT_EQ(calls[0].arg(1).type(), Variant::Type::Date);

    EXPECT_EQ(screen->cdsLanctoNF->recordCount(), 3);
    EXPECT_TRUE(screen->boFiltroAplicado);
    EXPECT_FALSE(frmFiltroCanc->isVisible());
    EXPECT_TRUE(host.messageTexts().isEmpty());
    EXPECT_EQ(host.animationDepth(), 0);
    // The dialog keeps the query for the screen's reload.
    EXPECT_EQ(frmFiltroCanc->consulta, lanctoNFArgsOf(argsOf(calls[0])));
}

TEST_F(FilterDialog, HiddenRunReportsAFailureToTheCaller)
{
    fake.enqueue(kCancel, "GetParExpedicao", FakeTransport::failed("Parâmetros indisponíveis"));
    EXPECT_THROW(CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO")), core::Abort);
    EXPECT_EQ(host.messageTexts(), QStringList{"Parâmetros indisponíveis"});
    EXPECT_EQ(fake.count("GetLanctoNF"), 0);
    EXPECT_FALSE(screen->boFiltroAplicado);
    EXPECT_FALSE(frmFiltroCanc->isVisible());
}

TEST_F(FilterDialog, CancelledDialogRestoresTheLastConfirmedFilter)
{
    // Confirm an interval over a period of its own.
    EXPECT_FALSE(showAndRun([](TfrmFiltroCanc& d) {
        d.depInicial->SetDate(dayFromToday(-10));
        d.depFinal->SetDate(dayFromToday(-5));
        typeInterval(d, "7", "19");
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    }));
    ASSERT_EQ(fake.count("GetLanctoNF"), 1);

    // Change every choice, then cancel.
    showAndRun([](TfrmFiltroCanc& d) {
        d.depInicial->SetDate(dayFromToday(-1));
        d.rbtTodosNrExp->click();
        d.rbtLstRota->click();
        d.medDENrExp->setText("1");
    });

    // The next display shows the confirmed filter again, edits enabled.
    showAndRun([](TfrmFiltroCanc& d) {
        EXPECT_EQ(d.depInicial->GetDate(), dayFromToday(-10));
        EXPECT_EQ(d.depFinal->GetDate(), dayFromToday(-5));
        EXPECT_TRUE(d.rbtIntervalo->isChecked());
        EXPECT_TRUE(d.medDENrExp->isEnabled());
        EXPECT_TRUE(d.medAteNrExp->isEnabled());
        EXPECT_FALSE(d.btpListaNrExp->isEnabled());
        EXPECT_EQ(d.medDENrExp->text(), "0000000007");
        EXPECT_EQ(d.medAteNrExp->text(), "0000000019");
        EXPECT_TRUE(d.rbtTodosRota->isChecked());
        EXPECT_FALSE(d.btpListaRota->isEnabled());
    });
    EXPECT_EQ(fake.count("GetLanctoNF"), 1);
}

TEST_F(FilterDialog, ResetThenCancelBringsBackTheConfirmedFilterNotTheDefaults)
{
    showAndRun([](TfrmFiltroCanc& d) {
        d.depInicial->SetDate(dayFromToday(-30));
        typeInterval(d, "3", "4");
        run([&] { d.sbtConfirmaClick(); });
    });

    showAndRun([](TfrmFiltroCanc& d) {
        d.sbtLimpa->click();
        // The reset shows the defaults but keeps the interval texts.
        EXPECT_EQ(d.depInicial->GetDate(), dayFromToday(-2));
        EXPECT_TRUE(d.rbtTodosNrExp->isChecked());
        EXPECT_FALSE(d.medDENrExp->isEnabled());
        EXPECT_EQ(d.medDENrExp->text(), "0000000003");
    });
    EXPECT_TRUE(Filtro.Intervalo.Ativo);

    showAndRun([](TfrmFiltroCanc& d) {
        EXPECT_EQ(d.depInicial->GetDate(), dayFromToday(-30));
        EXPECT_TRUE(d.rbtIntervalo->isChecked());
        EXPECT_TRUE(d.medAteNrExp->isEnabled());
    });
}

TEST_F(FilterDialog, ClosedAndReopenedScreenFindsTheSameDialogAndFilter)
{
    showAndRun([](TfrmFiltroCanc& d) {
        typeInterval(d, "100", "200");
        run([&] { d.sbtConfirmaClick(); });
    });
    TfrmFiltroCanc* before = frmFiltroCanc;
    closeScreen();
    ASSERT_EQ(frmConLancto, nullptr);
    screen = open();
    ASSERT_NE(screen, nullptr);
    fake.reset();
    fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket()));
    fake.setDefault(kCancel, "GetLanctoNF", FakeTransport::payload(entries({"0000000001"})));

    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    EXPECT_EQ(frmFiltroCanc, before);
    const auto sent = lastQuery();
    EXPECT_EQ(sent.stExpDe, Variant("0000000100"));
    EXPECT_EQ(sent.stExpAte, Variant("0000000200"));
    EXPECT_EQ(sent.stSemIntervalo, Variant(""));
    EXPECT_TRUE(screen->boFiltroAplicado);
}

TEST_F(FilterDialog, SavedOptionsBringBackThePickedLists)
{
    fake.setDefault(kCancel, "GetExp", FakeTransport::payload(shipments({"0000000005", "0000000006"})));
    showAndRun([this](TfrmFiltroCanc& d) {
        // Nothing saved yet: both lists read empty.
        cli_exp01801::stRota = "'R1'";
        EXPECT_TRUE(d.loadOptions());
        EXPECT_TRUE(cli_exp01801::stRota.isEmpty());

        d.rbtLstNrExp->click();
        host.pickRows({1});
        d.btpListaNrExp->click();
        d.rbtLstRota->click();
        host.pickRows({0, 1});
        d.btpListaRota->click();
        ASSERT_EQ(cli_exp01801::stNrExp, "'0000000006'");
        const QString rotas = cli_exp01801::stRota;
        EXPECT_TRUE(rotas.startsWith('\'') && rotas.contains(',')) << rotas.toStdString();

        EXPECT_TRUE(d.saveOptions());
        d.sbtLimpa->click();
        EXPECT_TRUE(cli_exp01801::stNrExp.isEmpty());
        EXPECT_TRUE(cli_exp01801::stRota.isEmpty());
        EXPECT_TRUE(d.rbtTodosNrExp->isChecked());

        EXPECT_TRUE(d.loadOptions());
        EXPECT_EQ(cli_exp01801::stNrExp, "'0000000006'");
        EXPECT_EQ(cli_exp01801::stRota, rotas);
        // The base dialog's own values come back too, with their enabling.
        EXPECT_TRUE(d.rbtLstNrExp->isChecked());
        EXPECT_TRUE(d.btpListaNrExp->isEnabled());
        EXPECT_TRUE(d.rbtLstRota->isChecked());
    });
    EXPECT_TRUE(QFile::exists(dir.filePath("opcoes.ini")));
    EXPECT_TRUE(host.messageTexts().isEmpty()) << host.messageTexts().join(" / ").toStdString();
}

// --- shipments and routes ------------------------------------------------------------------

TEST_F(FilterDialog, ShipmentPickerListsTheTypedBranchAndItsPickIsSent)
{
    fake.setDefault(kCancel, "GetExp", FakeTransport::payload(shipments({"0000000001", "0000000002", "0000000003"})));
    screen->medFilial->setText("0002");
    showAndRun([this](TfrmFiltroCanc& d) {
        d.rbtLstNrExp->click();
        EXPECT_TRUE(d.btpListaNrExp->isEnabled());
        host.pickRows({0, 2});
        d.btpListaNrExp->click();
        run([&] { d.sbtConfirmaClick(); });
    });
    ASSERT_EQ(fake.count("GetExp"), 1);
    EXPECT_EQ(fake.callsTo("GetExp")[0].arg(0), Variant("0002"));
    ASSERT_FALSE(host.shown().isEmpty());
    EXPECT_EQ(host.shown()[0].kind, "pickRows");
    EXPECT_EQ(host.shown()[0].title, "Expedição");
    const auto sent = lastQuery();
    EXPECT_EQ(sent.stFilial, Variant("0002"));
    EXPECT_EQ(sent.stExpedicoes, Variant("'0000000001','0000000003'"));
    EXPECT_EQ(sent.stTodasExpedicoes, Variant(""));
    EXPECT_EQ(sent.stSemIntervalo, Variant("T"));
    EXPECT_FALSE(Filtro.Expedicao.Todos);
    EXPECT_EQ(Filtro.Expedicao.Lista, "'0000000001','0000000003'");
    EXPECT_EQ(host.animationDepth(), 0);
}

TEST_F(FilterDialog, BranchWithoutShipmentsKeepsThePreviousPick)
{
    fake.enqueue(kCancel, "GetExp", FakeTransport::payload(shipments({"0000000004"})));
    fake.enqueue(kCancel, "GetExp", FakeTransport::payload(shipments({})));
    fake.enqueue(kCancel, "GetExp", FakeTransport::failed("Servidor ocupado"));
    showAndRun([this](TfrmFiltroCanc& d) {
        d.rbtLstNrExp->click();
        host.pickRows({0});
        d.btpListaNrExp->click();
        ASSERT_EQ(cli_exp01801::stNrExp, "'0000000004'");

        d.rbtTodosNrExp->setFocus();
        d.btpListaNrExp->click(); // empty list
        EXPECT_EQ(d.focusWidget(), d.rbtLstNrExp);
        d.btpListaNrExp->click(); // failed call
        EXPECT_EQ(cli_exp01801::stNrExp, "'0000000004'");
    });
    EXPECT_EQ(host.messageTexts(), (QStringList{"Não há expedição cadastrada.", "Servidor ocupado"}));
    int pickers = 0;
    for (const auto& s : host.shown())
        pickers += s.kind == "pickRows";
    EXPECT_EQ(pickers, 1);
    EXPECT_EQ(host.animationDepth(), 0);
    EXPECT_EQ(host.animationStarts(), 3);
}

TEST_F(FilterDialog, RoutePickerListsTheRouteTableAndAnEmptyTableIsReported)
{
    showAndRun([this](TfrmFiltroCanc& d) {
        d.rbtLstRota->click();
        host.pickRows({0});
        d.btpListaRota->click();
        EXPECT_TRUE(cli_exp01801::stRota.startsWith('\''));
        const QString picked = cli_exp01801::stRota;

        QSqlQuery(QSqlDatabase::database(hostDbConnection)).exec("DELETE FROM ROTATRANS");
        d.btpListaRota->click();
        EXPECT_EQ(cli_exp01801::stRota, picked);
        EXPECT_FALSE(d.qryRota->active());
        EXPECT_EQ(d.focusWidget(), d.rbtLstRota);
    });
    ASSERT_GE(host.shown().size(), 2);
    EXPECT_EQ(host.shown()[0].title, "Rota");
    EXPECT_EQ(host.messageTexts(), QStringList{"Não há rota cadastrada."});
}

TEST_F(FilterDialog, PickedRoutesStayRememberedWhileAllRoutesAreSent)
{
    QString picked;
    showAndRun([&](TfrmFiltroCanc& d) {
        d.rbtLstRota->click();
        host.pickRows({0});
        d.btpListaRota->click();
        picked = cli_exp01801::stRota;
        d.rbtTodosRota->click();
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    });
    ASSERT_FALSE(picked.isEmpty());
    EXPECT_EQ(lastQuery().stRotas, Variant(""));
    EXPECT_EQ(lastQuery().stTodasRotas, Variant("T"));
    EXPECT_TRUE(Filtro.Rota.Todas);
    EXPECT_EQ(Filtro.Rota.Lista, picked);

    showAndRun([&](TfrmFiltroCanc& d) {
        EXPECT_TRUE(d.rbtTodosRota->isChecked());
        d.rbtLstRota->click();
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    });
    EXPECT_EQ(lastQuery().stRotas, Variant(picked));
    EXPECT_EQ(lastQuery().stTodasRotas, Variant(""));
}

TEST_F(FilterDialog, ListsChosenWithNothingPickedShowTheShipmentMessageFirst)
{
    fake.setDefault(kCancel, "GetExp", FakeTransport::payload(shipments({"0000000008"})));
    const bool open = showAndRun([this](TfrmFiltroCanc& d) {
        d.rbtLstNrExp->click();
        d.rbtLstRota->click();
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
        EXPECT_EQ(d.focusWidget(), d.rbtLstNrExp);
        host.pickRows({0});
        d.btpListaNrExp->click();
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
        EXPECT_EQ(d.focusWidget(), d.rbtLstRota);
    });
    EXPECT_TRUE(open);
    EXPECT_EQ(host.messageTexts(), (QStringList{"Expedição deve ser informada.", "Rota deve ser informada."}));
    EXPECT_EQ(fake.count("GetParExpedicao"), 0);
    EXPECT_EQ(fake.count("GetLanctoNF"), 0);
}

TEST_F(FilterDialog, IntervalWithAnEmptyEndIsRefusedStartFirst)
{
    showAndRun([](TfrmFiltroCanc& d) {
        d.rbtIntervalo->click();
        // Leaving empty edits says nothing.
        run([&] { d.medDENrExpExit(); });
        run([&] { d.medAteNrExpExit(); });
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
        EXPECT_EQ(d.focusWidget(), d.medDENrExp);
        d.medDENrExp->setText("42");
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
        EXPECT_EQ(d.focusWidget(), d.medAteNrExp);
        EXPECT_EQ(d.medDENrExp->text(), "0000000042");
    });
    EXPECT_EQ(host.messageTexts(),
              (QStringList{"Nr. expedição inicial deve ser informado.", "Nr. expedição final deve ser informado."}));
    EXPECT_EQ(fake.calls().size(), 0u);
}

TEST_F(FilterDialog, ReversedIntervalIsRefusedOnLeavingTheEndAndOnConfirming)
{
    showAndRun([](TfrmFiltroCanc& d) {
        typeInterval(d, "90", "9");
        EXPECT_EQ(d.medAteNrExp->text(), "0000000009");
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
        EXPECT_EQ(d.focusWidget(), d.medAteNrExp);
        // Equal ends pass.
        d.medAteNrExp->setText("90");
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    });
    const QString msg = "Nr. expedição inicial deve ser menor que nr. expedição final.";
    EXPECT_EQ(host.messageTexts(), (QStringList{msg, msg}));
    const auto sent = lastQuery();
    EXPECT_EQ(sent.stExpDe, Variant("0000000090"));
    EXPECT_EQ(sent.stExpAte, Variant("0000000090"));
}

TEST_F(FilterDialog, ConfirmedIntervalSendsItsPaddedNumbersAndComesBackEnabled)
{
    showAndRun([](TfrmFiltroCanc& d) {
        typeInterval(d, "42", "57");
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    });
    auto expected = lanctoNFArgsOf(defaultArgs());
    expected.stTodasExpedicoes = "T";
    expected.stExpDe = "0000000042";
    expected.stExpAte = "0000000057";
    expected.stSemIntervalo = "";
    EXPECT_EQ(lastQuery(), expected);
    EXPECT_TRUE(Filtro.Intervalo.Ativo);
    EXPECT_FALSE(Filtro.Expedicao.Todos);

    // The screen's reload repeats exactly that query without the dialog.
    run([&] { screen->sbtVerificarClick(); });
    EXPECT_EQ(fake.count("GetLanctoNF"), 2);
    EXPECT_EQ(lastQuery(), expected);

    showAndRun([](TfrmFiltroCanc& d) {
        EXPECT_TRUE(d.rbtIntervalo->isChecked());
        EXPECT_TRUE(d.medDENrExp->isEnabled());
        EXPECT_TRUE(d.lblAte->isEnabled());
        EXPECT_FALSE(d.btpListaNrExp->isEnabled());
        EXPECT_EQ(d.medAteNrExp->text(), "0000000057");
    });
}

// --- period ----------------------------------------------------------------------------------

TEST_F(FilterDialog, DayZeroAndTextThatIsNoDateAreRefusedOnLeavingTheEdit)
{
    showAndRun([](TfrmFiltroCanc& d) {
        d.depInicial->setText("30/12/1899");
        EXPECT_FALSE(run([&] { d.depInicialExit(); }));
        d.depInicial->setText("31/12/1899");
        EXPECT_TRUE(run([&] { d.depInicialExit(); }));
        d.depFinal->setText("31/02/2024");
        EXPECT_FALSE(run([&] { d.depFinalExit(); }));
        EXPECT_EQ(d.focusWidget(), d.depFinal);
        d.depFinal->clear();
        EXPECT_TRUE(run([&] { d.depFinalExit(); }));
    });
    EXPECT_EQ(host.messageTexts(),
              (QStringList{"\"30/12/1899\" não é uma data válida.", "\"31/02/2024\" não é uma data válida."}));
}

TEST_F(FilterDialog, PeriodChecksComeInOrderAndEqualDaysPass)
{
    showAndRun([this](TfrmFiltroCanc& d) {
        d.depInicial->clear();
        d.depFinal->clear();
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
        EXPECT_EQ(d.focusWidget(), d.depInicial);
        d.depInicial->SetDate(dayFromToday(0));
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
        EXPECT_EQ(d.focusWidget(), d.depFinal);
        d.depFinal->SetDate(dayFromToday(-1));
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
        EXPECT_EQ(d.focusWidget(), d.depInicial);
        EXPECT_EQ(fake.calls().size(), 0u);
        // Equal days pass.
        d.depInicial->SetDate(dayFromToday(-1));
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    });
    EXPECT_EQ(host.messageTexts(),
              (QStringList{"Data inicial deve ser informado.", "Data final deve ser informado.",
                           "Data inicial deve ser menor ou igual a data final."}));
    const auto sent = lastQuery();
    EXPECT_EQ(sent.dtInicial, Variant(dayFromToday(-1)));
    EXPECT_EQ(sent.dtFinal, Variant(dayFromToday(-1)));
}

// --- grade -----------------------------------------------------------------------------------

TEST_F(FilterDialog, BranchNotShippingByGradeSendsTheEmptyGradeWithoutAsking)
{
    showAndRun([](TfrmFiltroCanc& d) {
        d.rbtGrade->setChecked(true);
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    });
    EXPECT_TRUE(host.messageTexts().isEmpty());
    EXPECT_EQ(lastQuery().stGrade, Variant(""));
    EXPECT_FALSE(Filtro.Grade.Todas);
}

TEST_F(FilterDialog, GradeBranchRequiresAPickedGrade)
{
    fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket("1", "GRA")));
    showAndRun([](TfrmFiltroCanc& d) {
        d.rbtGrade->setChecked(true);
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
    });
    EXPECT_EQ(host.messageTexts(), QStringList{"Grade de Pedidos deve ser Informada."});
    EXPECT_EQ(fake.count("GetLanctoNF"), 0);
    // The parameters stay loaded even though the confirmation stopped.
    EXPECT_EQ(filtrocanc::tipoExpedicao(screen->cdsParamExpedicao), "GRA");
}

TEST_F(FilterDialog, PickedGradeIsSentAndACancelledPickIsNotApplied)
{
    fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket("1", "GRA")));
    fake.setDefault(kCancel, "GetGradePesq", FakeTransport::payload(grades({"GRADE NORTE", "GRADE SUL"})));
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO")); // loads the GRA parameters

    showAndRun([this](TfrmFiltroCanc& d) {
        EXPECT_TRUE(d.grbGrade->isEnabled());
        d.depInicial->SetDate(dayFromToday(-6));
        d.rbtGrade->click();
        host.pickRow(0);
        d.btnGrade->click();
        EXPECT_EQ(d.edtNumeroG->text(), "GRADE NORTE");
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    });
    const auto grade = fake.callsTo("GetGradePesq");
    ASSERT_EQ(grade.size(), 1u);
    EXPECT_EQ(grade[0].arg(0), Variant("0001"));
    EXPECT_EQ(grade[0].arg(1), Variant(dayFromToday(-6)));
    EXPECT_EQ(grade[0].arg(2), Variant(dayFromToday(0)));
    // No GRADE text in the catalogue: the picker is titled like the grade box.
    const auto pick = host.shown().back();
    EXPECT_EQ(pick.kind, "pick");
    EXPECT_EQ(pick.title, "Grade de Pedidos");
    EXPECT_EQ(pick.text, "Não há Grade de Pedidos para o período informado.");
    EXPECT_EQ(lastQuery().stGrade, Variant("GRADE NORTE"));
    EXPECT_EQ(Filtro.Grade.Descricao, "GRADE NORTE");

    // Pick another grade, cancel: neither the next hidden run nor the next
    // display uses it.
    showAndRun([this](TfrmFiltroCanc& d) {
        host.pickRow(1);
        d.btnGrade->click();
        EXPECT_EQ(d.edtNumeroG->text(), "GRADE SUL");
    });
    EXPECT_EQ(frmFiltroCanc->edtNumeroG->text(), "GRADE NORTE"); // what the screen's grids read
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    EXPECT_EQ(lastQuery().stGrade, Variant("GRADE NORTE"));
    showAndRun([](TfrmFiltroCanc& d) { EXPECT_EQ(d.edtNumeroG->text(), "GRADE NORTE"); });
}

TEST_F(FilterDialog, ResetThenCloseLeavesTheReloadAndTheGradeEditOnTheConfirmedFilter)
{
    fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket("1", "GRA")));
    fake.setDefault(kCancel, "GetGradePesq", FakeTransport::payload(grades({"GRADE NORTE"})));
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    showAndRun([this](TfrmFiltroCanc& d) {
        d.rbtGrade->click();
        host.pickRow(0);
        d.btnGrade->click();
        typeInterval(d, "3", "4");
        EXPECT_TRUE(run([&] { d.sbtConfirmaClick(); }));
    });
    const auto confirmed = lastQuery();
    ASSERT_EQ(confirmed.stGrade, Variant("GRADE NORTE"));

    // "Desfazer", then the dialog is closed without confirming.
    showAndRun([](TfrmFiltroCanc& d) {
        d.sbtLimpa->click();
        EXPECT_TRUE(d.rbtTGrade->isChecked());
    });
    EXPECT_EQ(frmFiltroCanc->edtNumeroG->text(), "GRADE NORTE");

    // The screen's reload repeats the confirmed query, grade included.
    screen->pgcPadrao->setActivePage(screen->tshFolhaDados);
    screen->sbtVerificarClick();
    EXPECT_EQ(lastQuery(), confirmed);
    EXPECT_EQ(frmFiltroCanc->consulta.stGrade, Variant("GRADE NORTE"));
    EXPECT_EQ(frmFiltroCanc->edtNumeroG->text(), "GRADE NORTE");

    // A dialog only opened and closed changes nothing either.
    showAndRun([](TfrmFiltroCanc&) {});
    screen->sbtVerificarClick();
    EXPECT_EQ(lastQuery(), confirmed);
}

TEST_F(FilterDialog, ChoosingAllGradesForgetsThePickedGrade)
{
    fake.setDefault(kCancel, "GetParExpedicao", FakeTransport::payload(paramPacket("1", "GRA")));
    fake.setDefault(kCancel, "GetGradePesq", FakeTransport::payload(grades({"G1"})));
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    showAndRun([this](TfrmFiltroCanc& d) {
        d.rbtGrade->click();
        host.pickRow(0);
        d.btnGrade->click();
        d.rbtTGrade->click();
        EXPECT_TRUE(d.edtNumeroG->text().isEmpty());
        EXPECT_FALSE(d.btnGrade->isEnabled());
        d.rbtGrade->click();
        EXPECT_TRUE(d.edtNumeroG->text().isEmpty());
        EXPECT_TRUE(d.btnGrade->isEnabled());
    });
}

// --- failed query ------------------------------------------------------------------------------

TEST_F(FilterDialog, FailedQueryLeavesEntriesFlagFilterAndQueryAsTheyWere)
{
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(entries({"0000000021", "0000000022"})));
    CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO"));
    ASSERT_EQ(screen->cdsLanctoNF->recordCount(), 2);
    const TFILTRO before = Filtro;

    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::failed("Consulta interrompida"));
    const bool stillOpen = showAndRun([](TfrmFiltroCanc& d) {
        typeInterval(d, "1", "5");
        EXPECT_FALSE(run([&] { d.sbtConfirmaClick(); }));
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(host.messageTexts(), QStringList{"Consulta interrompida"});
    EXPECT_EQ(host.animationDepth(), 0);
    EXPECT_EQ(screen->cdsLanctoNF->recordCount(), 2);
    EXPECT_TRUE(screen->boFiltroAplicado);
    EXPECT_EQ(Filtro.Intervalo.Ativo, before.Intervalo.Ativo);
    EXPECT_TRUE(Filtro.Expedicao.Todos);
    // The screen's reload still repeats the query whose entries it shows.
    EXPECT_EQ(frmFiltroCanc->consulta.stSemIntervalo, Variant("T"));
    EXPECT_EQ(frmFiltroCanc->consulta.stExpDe, Variant(""));

    showAndRun([](TfrmFiltroCanc& d) { EXPECT_TRUE(d.rbtTodosNrExp->isChecked()); });
}

TEST_F(FilterDialog, FailedFirstQueryLeavesTheScreenUnfiltered)
{
    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::raised("Falha no banco"));
    EXPECT_THROW(CriaFiltroCancela(QStringLiteral("ESCONDE_FILTRO")), core::Error);
    EXPECT_FALSE(screen->boFiltroAplicado);
    EXPECT_FALSE(screen->cdsLanctoNF->active() && !screen->cdsLanctoNF->isEmpty());
    EXPECT_EQ(host.animationDepth(), 0);
    EXPECT_EQ(Filtro.DataIni, dayFromToday(-2));
}
