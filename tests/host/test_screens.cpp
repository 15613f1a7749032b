// The base screen and the base filter dialog driven as a module drives them.

#include "hosttestutil.h"

#include "host/frmfiltropadrao.h"
#include "host/frmpadrao.h"
#include "host/hostglobals.h"

#include "core/errors.h"
#include "doubles/scriptedhost.h"

#include <QMainWindow>
#include <QMdiArea>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace host;

namespace {

int g_alive = 0;

class TfrmTeste : public TfrmPadrao {
public:
    explicit TfrmTeste(QWidget* owner) : TfrmPadrao(owner)
    {
        ++g_alive;
        lblCodTela->setText("TST00001");
        ds = new core::ClientDataset("cdsTeste", this);
        dtsPadrao->setDataSet(ds);
        dbgPadrao->setDataSource(dtsPadrao);
    }
    ~TfrmTeste() override { --g_alive; }

    void FormCreate() override
    {
        TfrmPadrao::FormCreate();
        log << "create";
        if (failCreate)
            throw core::Error("sem conexão");
    }
    void FormActivate() override
    {
        log << "activate";
        if (failActivate)
            core::MensErro("falha na ativação", true);
    }
    void FormClose() override
    {
        TfrmPadrao::FormClose();
        log << "close";
        if (failClose)
            throw core::Error("não pode fechar");
    }
    void pgcPadraoChange() override
    {
        TfrmPadrao::pgcPadraoChange();
        log << "change:" + pgcPadrao->activePage()->objectName();
    }
    void sbtVerificarClick() override { log << "verificar"; }
    void dbgPadraoKeyDown(int& key, Qt::KeyboardModifiers) override { log << QString("key:%1").arg(key); }
    void dtsPadraoStateChange() override
    {
        log << "state";
        if (abortState)
            throw core::Abort();
    }

    static inline bool failCreate = false;
    bool failActivate = false;
    bool failClose = false;
    bool abortState = false;
    QStringList log;
    core::ClientDataset* ds;
};

struct ScreenFixture : ::testing::Test {
    core::ScriptedHost h;
    void TearDown() override
    {
        TfrmTeste::failCreate = false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

} // namespace

TEST_F(ScreenFixture, EveryComponentIsReachableByName)
{
    TfrmTeste* f = TfrmPadrao::create<TfrmTeste>(nullptr);
    for (const char* name :
         {"panMenu",      "sbtProcurar", "sbtVerificar",  "sbtImprimir",   "sbtAjuda",     "sbtFechar",
          "mnuMenu",      "mnuOperacao", "mnuFolhaDados", "mnuFormulario", "mnuListagem",  "mnuManutencao",
          "mnuIncluir",   "mnuAlterar",  "mnuExcluir",    "mnuProcurar",   "mnuVerificar", "mnuCancelar",
          "mnuConfirmar", "pgcPadrao",   "tshFolhaDados", "tshFormulario", "dbgPadrao",    "panNavigator",
          "dbtNome",      "dbnPadrao",   "lblCodTela",    "dtsPadrao"})
        EXPECT_NE(f->component(name), nullptr) << name;
    EXPECT_EQ(f->sizeHint(), QSize(Px(893), Px(493)));
    EXPECT_EQ(f->pgcPadrao->activePage(), f->tshFolhaDados);
    delete f;
}

TEST_F(ScreenFixture, FormCreateFailureReachesTheCallerAndFreesTheForm)
{
    TfrmTeste::failCreate = true;
    const int before = g_alive;
    EXPECT_THROW(TfrmPadrao::create<TfrmTeste>(nullptr), core::Error);
    EXPECT_EQ(g_alive, before);
    EXPECT_TRUE(h.shown().isEmpty()); // not shown by the host: the caller decides
}

TEST_F(ScreenFixture, TopLevelShowActivatesOnceAndCloseReleases)
{
    QPointer<TfrmTeste> f = TfrmPadrao::create<TfrmTeste>(nullptr);
    bool closedSignal = false;
    QObject::connect(f, &TfrmPadrao::formClosed, [&] { closedSignal = true; });
    f->show();
    f->show(); // a second entry call only brings it forward
    QCoreApplication::processEvents();
    EXPECT_EQ(f->log, (QStringList{"create", "activate"}));

    f->sbtFechar->click();
    EXPECT_TRUE(closedSignal);
    EXPECT_TRUE(f->log.contains("close"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.isNull(); }, 2000));
}

TEST_F(ScreenFixture, FailedFormCloseKeepsTheScreenOpen)
{
    QPointer<TfrmTeste> f = TfrmPadrao::create<TfrmTeste>(nullptr);
    f->show();
    f->failClose = true;
    EXPECT_FALSE(f->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(f.isNull());
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(h.messageTexts(), QStringList{QString::fromUtf8("não pode fechar")});
    f->failClose = false;
    f->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.isNull(); }, 2000));
}

TEST_F(ScreenFixture, FailedActivationIsShownNotThrown)
{
    TfrmTeste* f = TfrmPadrao::create<TfrmTeste>(nullptr);
    f->failActivate = true;
    EXPECT_NO_THROW(f->show());
    EXPECT_EQ(h.messageTexts(), QStringList{QString::fromUtf8("falha na ativação")});
    delete f;
}

TEST_F(ScreenFixture, MdiChildrenActivateOnEverySwitch)
{
    QMainWindow main;
    auto* area = new QMdiArea(&main);
    main.setCentralWidget(area);
    main.resize(1200, 800);
    main.show();
    setMainWindow(&main, area);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));

    QPointer<TfrmTeste> a = TfrmPadrao::create<TfrmTeste>(&main);
    QPointer<TfrmTeste> b = TfrmPadrao::create<TfrmTeste>(&main);
    a->show();
    b->show();
    ASSERT_NE(a->subWindow(), nullptr);
    EXPECT_EQ(a->subWindow()->mdiArea(), area);
    EXPECT_EQ(a->log.count("activate"), 1);
    EXPECT_EQ(b->log.count("activate"), 1);

    area->setActiveSubWindow(a->subWindow());
    EXPECT_EQ(a->log.count("activate"), 2);
    a->show(); // already the active child: not a new activation
    EXPECT_EQ(a->log.count("activate"), 2);

    a->subWindow()->showMinimized();
    a->setWindowStateNormal();
    EXPECT_FALSE(a->subWindow()->isMinimized());

    a->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return a.isNull(); }, 2000));
    EXPECT_EQ(area->subWindowList().size(), 1);
    b->subWindow()->close(); // the child's close box
    EXPECT_TRUE(QTest::qWaitFor([&] { return b.isNull(); }, 2000));
    EXPECT_TRUE(area->subWindowList().isEmpty());
    setMainWindow(nullptr, nullptr);
}

TEST_F(ScreenFixture, PageChangeHandlerRunsForUserSwitchesAndMenus)
{
    TfrmTeste* f = TfrmPadrao::create<TfrmTeste>(nullptr);
    f->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f));
    f->log.clear();
    f->pgcPadrao->setActivePage(f->tshFormulario);
    EXPECT_TRUE(f->log.isEmpty());
    QTabBar* bar = f->pgcPadrao->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    EXPECT_EQ(f->log, QStringList{"change:tshFolhaDados"});
    EXPECT_TRUE(f->mnuFolhaDados->isChecked());
    f->mnuFormulario->trigger();
    EXPECT_EQ(f->pgcPadrao->activePage(), f->tshFormulario);
    EXPECT_EQ(f->log.last(), "change:tshFormulario");
    EXPECT_TRUE(f->mnuFormulario->isChecked());

    f->tshFolhaDados->setEnabled(false);
    f->mnuFolhaDados->trigger(); // a disabled page is not reachable from the menu either
    EXPECT_EQ(f->pgcPadrao->activePage(), f->tshFormulario);
    delete f;
}

TEST_F(ScreenFixture, ToolButtonsMenusAndGridKeysReachTheHandlers)
{
    TfrmTeste* f = TfrmPadrao::create<TfrmTeste>(nullptr);
    f->log.clear();
    f->sbtVerificar->click();
    f->mnuVerificar->trigger();
    f->sbtVerificar->setEnabled(false);
    f->sbtVerificar->Click(); // a disabled button does nothing
    QTest::keyClick(f->dbgPadrao, Qt::Key_Space);
    EXPECT_EQ(f->log, (QStringList{"verificar", "verificar", "key:32"}));

    hosttest::fillPeople(*f->ds, {"0001|A", "0002|B", "0003|C"});
    h.findRow(2);
    f->sbtProcurar->click(); // base: the find dialog over the screen's dataset
    ASSERT_EQ(h.shown().size(), 1);
    EXPECT_EQ(h.shown().at(0).kind, "find");
    delete f;
}

TEST_F(ScreenFixture, DataSourceStateHandlerRunsDirectlyAndItsAbortReachesTheCaller)
{
    TfrmTeste* f = TfrmPadrao::create<TfrmTeste>(nullptr);
    f->log.clear();
    hosttest::fillPeople(*f->ds, {"0001|A"});
    EXPECT_TRUE(f->log.contains("state"));
    f->abortState = true;
    EXPECT_THROW(f->ds->close(), core::Abort);
    delete f;
}

TEST_F(ScreenFixture, NavigatorAndLabelFollowTheDataset)
{
    TfrmTeste* f = TfrmPadrao::create<TfrmTeste>(nullptr);
    hosttest::fillPeople(*f->ds, {"0001|A", "0002|B", "0003|C"});
    f->dbtNome->setDataSource(f->dtsPadrao, "NOME");
    f->dbnPadrao->setDataSource(f->dtsPadrao);
    EXPECT_EQ(f->dbtNome->text(), "A");
    EXPECT_FALSE(f->dbnPadrao->btnPrior->isEnabled());
    f->dbnPadrao->btnLast->click();
    EXPECT_EQ(f->ds->recNo(), 2);
    EXPECT_EQ(f->dbtNome->text(), "C");
    EXPECT_FALSE(f->dbnPadrao->btnNext->isEnabled());
    f->dbnPadrao->btnPrior->click();
    EXPECT_EQ(f->dbtNome->text(), "B");
    f->ds->close();
    EXPECT_EQ(f->dbtNome->text(), "");
    EXPECT_FALSE(f->dbnPadrao->btnFirst->isEnabled());
    delete f;
}

// --- base filter dialog ----------------------------------------------------------------

namespace {

class TfrmFiltroTeste : public TfrmFiltroPadrao {
public:
    explicit TfrmFiltroTeste(QWidget* owner) : TfrmFiltroPadrao(owner)
    {
        lblCodTela->setText("TST00002");
        auto* lay = new QVBoxLayout(grbFiltroPadrao);
        edtTexto = new TEdit("edtTexto", grbFiltroPadrao);
        rbtTodos = new TRadioButton("rbtTodos", "Todos", grbFiltroPadrao);
        rbtLista = new TRadioButton("rbtLista", "Lista", grbFiltroPadrao);
        depData = new TDateEditPlus("depData", grbFiltroPadrao);
        lay->addWidget(edtTexto);
        lay->addWidget(rbtTodos);
        lay->addWidget(rbtLista);
        lay->addWidget(depData);
        rbtTodos->setChecked(true);
        rbtLista->onClick = [this] { log << "rbtListaClick"; };
    }
    void FormCreate() override { log << "create"; }
    void FormActivate() override
    {
        log << "activate";
        visibleAtActivate = isVisible();
    }
    void FormClose() override { log << "close"; }
    void btfSaveOpcClick() override
    {
        TfrmFiltroPadrao::btfSaveOpcClick();
        if (failSave)
            throw core::Error("não gravou");
        setOpcValue("stNrExp", stNrExp);
    }
    void btfLoadOpcClick() override
    {
        TfrmFiltroPadrao::btfLoadOpcClick();
        stNrExp = opcValue("stNrExp");
    }
    TEdit* edtTexto;
    TRadioButton* rbtTodos;
    TRadioButton* rbtLista;
    TDateEditPlus* depData;
    QString stNrExp;
    bool failSave = false;
    bool visibleAtActivate = true;
    QStringList log;
};

} // namespace

TEST_F(ScreenFixture, FilterDialogActivatesOnceBeforeTheUserAndHidesOnClose)
{
    QPointer<TfrmFiltroTeste> d = TfrmFiltroPadrao::create<TfrmFiltroTeste>(nullptr);
    EXPECT_EQ(d->log, QStringList{"create"});
    bool modalSeen = false;
    QStringList logWhenShown;
    auto* t = hosttest::onModal([&](QWidget* m) {
        modalSeen = m == d;
        logWhenShown = d->log;
        QTest::keyClick(m, Qt::Key_Escape);
    });
    d->showModal();
    Q_UNUSED(t);
    EXPECT_TRUE(modalSeen);
    EXPECT_EQ(logWhenShown, (QStringList{"create", "activate"}));
    EXPECT_EQ(d->log, (QStringList{"create", "activate", "close"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(d.isNull()); // hidden, never freed
    EXPECT_FALSE(d->isVisible());

    hosttest::onModal([&](QWidget*) { d->sbtConfirma->click(); });
    EXPECT_EQ(d->showModal(), QDialog::Accepted);
    EXPECT_EQ(d->log.count("activate"), 2);
    EXPECT_FALSE(d->isVisible());

    d->FormActivate(); // the hidden mode: activation without showing
    EXPECT_FALSE(d->visibleAtActivate);
    d->close(); // closing a hidden dialog is harmless: it stays, hidden
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(d.isNull());
    EXPECT_FALSE(d->isVisible());
    delete d;
}

TEST_F(ScreenFixture, FilterOptionsAreSavedAndRestoredPerScreenAndOperator)
{
    QTemporaryDir dir;
    TfrmFiltroPadrao::setOptionsFile(dir.filePath("opcoes.ini"));
    const QString savedOperator = core::context().operador;
    core::context().operador = "JOAO";

    auto* d = TfrmFiltroPadrao::create<TfrmFiltroTeste>(nullptr);
    d->edtTexto->setText("abc");
    d->rbtLista->setChecked(true);
    d->depData->SetDate(core::Date::fromQDate(QDate(2024, 5, 17)));
    d->stNrExp = "'0000000012','0000000015'";
    d->btfSaveOpc->click();
    EXPECT_TRUE(d->Opcoes.contains("stNrExp='0000000012','0000000015'"));

    d->edtTexto->setText("");
    d->rbtTodos->setChecked(true);
    d->depData->setText("");
    d->stNrExp.clear();
    d->log.clear();
    d->btfLoadOpc->click();
    EXPECT_EQ(d->edtTexto->text(), "abc");
    EXPECT_TRUE(d->rbtLista->isChecked());
    EXPECT_TRUE(d->log.contains("rbtListaClick")); // restored by checking it: its handler ran
    EXPECT_EQ(d->depData->text(), "17/05/2024");
    EXPECT_EQ(d->stNrExp, "'0000000012','0000000015'");

    core::context().operador = "MARIA"; // another operator has no saved options
    d->stNrExp = "x";
    EXPECT_TRUE(d->loadOptions());
    EXPECT_EQ(d->stNrExp, "");
    EXPECT_EQ(d->edtTexto->text(), "abc");

    core::context().operador = "JOAO"; // a failed save leaves the stored options as they were
    d->failSave = true;
    d->edtTexto->setText("zzz");
    EXPECT_FALSE(d->saveOptions());
    d->failSave = false;
    d->loadOptions();
    EXPECT_EQ(d->edtTexto->text(), "abc");
    EXPECT_EQ(h.messageTexts(), QStringList{QString::fromUtf8("não gravou")});

    delete d;
    core::context().operador = savedOperator;
    TfrmFiltroPadrao::setOptionsFile({});
}
