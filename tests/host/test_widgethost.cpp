// The real host services, answered headless through the modal widgets.

#include "hosttestutil.h"

#include "host/routines.h"
#include "host/widgethost.h"

#include "client/adoibquery.h"
#include "client/hostapi.h"
#include "client/interruption.h"
#include "doubles/scriptedhost.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using namespace host;

namespace {

struct WidgetHostFixture : ::testing::Test {
    WidgetHost host;
    void SetUp() override { core::setHost(&host); }
    void TearDown() override { core::setHost(nullptr); }
};

void clickButton(QWidget* modal, const char* name)
{
    auto* b = modal->findChild<QAbstractButton*>(name);
    ASSERT_NE(b, nullptr) << name;
    b->click();
}

} // namespace

TEST_F(WidgetHostFixture, MessageBoxesHavePortugueseCaptionsAndButtons)
{
    QString title, text;
    QStringList buttons;
    hosttest::onModal([&](QWidget* m) {
        title = m->windowTitle();
        text = static_cast<QMessageBox*>(m)->text();
        for (auto* b : m->findChildren<QAbstractButton*>())
            if (!b->text().isEmpty())
                buttons << b->text();
        clickButton(m, "btnYes");
    });
    EXPECT_TRUE(core::MensPergunta("Confirma?"));
    EXPECT_EQ(title, QString::fromUtf8("Confirmação"));
    EXPECT_EQ(text, "Confirma?");
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QString::fromUtf8("&Não"), "&Sim"}));

    hosttest::onModal([&](QWidget* m) { QTest::keyClick(m, Qt::Key_Escape); });
    EXPECT_FALSE(core::MensPergunta("De novo?")); // Escape answers No

    hosttest::onModal([&](QWidget* m) {
        title = m->windowTitle();
        clickButton(m, "btnOK");
    });
    core::MensErro("Falhou.", false);
    EXPECT_EQ(title, "Erro");

    hosttest::onModal([&](QWidget* m) {
        title = m->windowTitle();
        QTest::keyClick(m, Qt::Key_Return);
    });
    core::MensAviso("Cuidado.");
    EXPECT_EQ(title, QString::fromUtf8("Atenção"));
    hosttest::onModal([&](QWidget* m) {
        title = m->windowTitle();
        clickButton(m, "btnOK");
    });
    core::MensInfo("Pronto.");
    EXPECT_EQ(title, QString::fromUtf8("Informação"));
}

TEST_F(WidgetHostFixture, PickDialogChoosesWithEnterCancelsWithEscapeAndFiltersWhileTyping)
{
    core::ClientDataset ds("qryFilial");
    hosttest::fillPeople(ds, {"0001|Matriz", "0002|Filial Sul", "0003|Filial Norte", "0004|Depósito Sul"});
    core::DataSource dts("dtsFilial");
    dts.setDataSet(&ds);

    QString title;
    hosttest::onModal([&](QWidget* m) {
        title = m->windowTitle();
        auto* view = m->findChild<QTableView*>("dbgPesquisa");
        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Return);
    });
    EXPECT_TRUE(Pesquisar(&dts, QString::fromUtf8("Filial|Não há filial cadastrada."), false, true));
    EXPECT_EQ(title, "Filial");
    EXPECT_EQ(ds.recNo(), 1);

    hosttest::onModal([&](QWidget* m) { QTest::keyClick(m->findChild<QTableView*>("dbgPesquisa"), Qt::Key_Escape); });
    EXPECT_FALSE(Pesquisar(&dts, "Filial|vazio"));
    EXPECT_EQ(ds.recNo(), 1);

    int shownRows = -1;
    hosttest::onModal([&](QWidget* m) {
        auto* view = m->findChild<QTableView*>("dbgPesquisa");
        QTest::keyClicks(view, "norte"); // typing goes to the filter
        shownRows = view->model()->rowCount();
        QTest::keyClick(m->findChild<QLineEdit*>("edtLocalizar"), Qt::Key_Return);
    });
    EXPECT_TRUE(Pesquisar(&dts, "Filial|vazio"));
    EXPECT_EQ(shownRows, 1);
    EXPECT_EQ(ds.fieldByName("CODIGO").asString(), "0003");
}

TEST_F(WidgetHostFixture, PickDialogOnAnEmptyListShowsTheEmptyText)
{
    core::ClientDataset ds("qryFilial");
    hosttest::fillPeople(ds, {});
    core::DataSource dts("dtsFilial");
    dts.setDataSet(&ds);
    QString text;
    hosttest::onModal([&](QWidget* m) {
        text = static_cast<QMessageBox*>(m)->text();
        clickButton(m, "btnOK");
    });
    EXPECT_FALSE(Pesquisar(&dts, QString::fromUtf8("Filial|Não há filial cadastrada.")));
    EXPECT_EQ(text, QString::fromUtf8("Não há filial cadastrada."));
}

TEST_F(WidgetHostFixture, MultiPickMarksWithSpaceAndReturnsTheListString)
{
    core::ClientDataset ds("cdsExpedicao");
    hosttest::fillPeople(ds, {"0001|A", "0002|B", "0003|C"});
    core::DataSource dts("dtsExpedicao");
    dts.setDataSet(&ds);
    QString result = "antes";
    hosttest::onModal([&](QWidget* m) {
        auto* view = m->findChild<QTableView*>("dbgPesquisa");
        view->setCurrentIndex(view->model()->index(0, 1));
        QTest::keyClick(view, Qt::Key_Space);
        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Down);
        QTest::keyClick(view, Qt::Key_Space);
        QTest::keyClick(view, Qt::Key_Return);
    });
    EXPECT_TRUE(PesquisaLista(&dts, "CODIGO", "Nr. Expedição", false, result));
    EXPECT_EQ(result, "'0001','0003'");

    // Opening again shows the picked keys marked; unmarking one and confirming.
    hosttest::onModal([&](QWidget* m) {
        auto* view = m->findChild<QTableView*>("dbgPesquisa");
        EXPECT_EQ(view->model()->index(2, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        view->setCurrentIndex(view->model()->index(0, 1));
        QTest::keyClick(view, Qt::Key_Space);
        clickButton(m, "btnOK");
    });
    EXPECT_TRUE(PesquisaLista(&dts, "CODIGO", "Nr. Expedição", false, result));
    EXPECT_EQ(result, "'0003'");

    hosttest::onModal([&](QWidget* m) { clickButton(m, "btnCancelar"); });
    EXPECT_FALSE(PesquisaLista(&dts, "CODIGO", "Nr. Expedição", false, result));
    EXPECT_EQ(result, "'0003'");
}

TEST(PickerRoutines, AClosedQueryIsOpenedByThePicker)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "hosttest_rotas");
        db.setDatabaseName(":memory:");
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("CREATE TABLE ROTATRANS (CDROTATRANS VARCHAR(6), NMROTATRANS VARCHAR(40))"));
        ASSERT_TRUE(q.exec("INSERT INTO ROTATRANS VALUES ('000001','Centro'),('000002','Litoral')"));
        core::ScriptedHost h;
        core::TADOIBQuery qry("qryRota");
        qry.setConnectionName("hosttest_rotas");
        qry.addString("CDROTATRANS", 6, QString::fromUtf8("Código"));
        qry.addString("NMROTATRANS", 40, "Nome");
        qry.SQL = QStringList{"SELECT CDROTATRANS, NMROTATRANS FROM ROTATRANS ORDER BY CDROTATRANS"};
        core::DataSource dts("dtsRota");
        dts.setDataSet(&qry);
        ASSERT_FALSE(qry.active());
        h.pickRows({1});
        QString stRota;
        EXPECT_TRUE(PesquisaLista(&dts, "CDROTATRANS", "Rota", false, stRota));
        EXPECT_TRUE(qry.active());
        EXPECT_EQ(qry.recordCount(), 2);
        EXPECT_THROW(PesquisaLista(&dts, "NAOEXISTE", "Rota", false, stRota), core::Error);
    }
    QSqlDatabase::removeDatabase("hosttest_rotas");
}

TEST_F(WidgetHostFixture, FindDialogMovesTheDataset)
{
    core::ClientDataset ds("cds");
    hosttest::fillPeople(ds, {"0001|Ana", "0002|Bruno", "0003|Carla", "0004|Bianca"});
    hosttest::onModal([&](QWidget* m) {
        auto* combo = m->findChild<QComboBox*>("cbxCampo");
        combo->setCurrentIndex(1); // Nome
        QTest::keyClicks(m->findChild<QLineEdit*>("edtValor"), "b");
        clickButton(m, "btnLocalizar");
        EXPECT_EQ(ds.recNo(), 1);
        clickButton(m, "btnProximo");
        EXPECT_EQ(ds.recNo(), 3);
        clickButton(m, "btnFechar");
    });
    Procura(&ds);
    EXPECT_EQ(ds.recNo(), 3);
    ds.close();
    Procura(&ds); // a closed dataset: no dialog, nothing happens
    Procura(static_cast<core::ClientDataset*>(nullptr));
}

TEST_F(WidgetHostFixture, AnimationNestsPerOwnerAndStoppingTwiceIsHarmless)
{
    QWidget window;
    window.resize(500, 400);
    window.show();
    core::ActiveShowAvi(&window, 6, "Carregando...");
    core::ActiveShowAvi(&window, 1);
    EXPECT_EQ(host.animationsShowing(), 1);
    auto* overlay = window.findChild<QWidget*>("aviShowAvi");
    ASSERT_NE(overlay, nullptr);
    EXPECT_TRUE(overlay->isVisible());
    core::DeactiveShowAvi(&window);
    EXPECT_NE(window.findChild<QWidget*>("aviShowAvi"), nullptr);
    core::DeactiveShowAvi(&window);
    EXPECT_EQ(window.findChild<QWidget*>("aviShowAvi"), nullptr);
    EXPECT_EQ(host.animationsShowing(), 0);
    core::DeactiveShowAvi(&window); // not showing: harmless
    core::DeactiveShowAvi(nullptr);

    auto* owner = new QWidget(&window);
    core::ActiveShowAvi(owner, 6);
    delete owner; // the owner goes away while it shows
    EXPECT_EQ(host.animationsShowing(), 0);
    EXPECT_EQ(window.findChild<QWidget*>("aviShowAvi"), nullptr);
}

// The animation's "Interromper" button follows the scope of the calls: none
// outside a marked scope, enabled where the operator may stop the calls (a
// click asks to stop), disabled with the reason where they run to their end.
TEST_F(WidgetHostFixture, TheAnimationOffersToStopOnlyCallsThatCanBeStopped)
{
    QWidget window;
    window.resize(500, 400);
    window.show();
    auto button = [&] { return window.findChild<QPushButton*>("btnInterromper"); };
    core::ActiveShowAvi(&window, 6);
    EXPECT_EQ(button(), nullptr);
    core::DeactiveShowAvi(&window);
    {
        core::InterruptibleCalls scope;
        core::ActiveShowAvi(&window, 6);
        ASSERT_NE(button(), nullptr);
        EXPECT_TRUE(button()->isEnabled());
        EXPECT_EQ(button()->text(), "Interromper");
        QTest::mouseClick(button(), Qt::LeftButton);
        EXPECT_TRUE(scope.interrupted());
        EXPECT_FALSE(button()->isEnabled());
        EXPECT_THROW(core::interruption::CallHook([] {}), core::Interrupted) << "a later call of the scope is not sent";
        {
            core::UninterruptibleCalls inner(QStringLiteral("Uma única transação."));
            EXPECT_FALSE(core::interruption::request()) << "the innermost scope decides";
            core::ActiveShowAvi(&window, 1); // nested: the shown animation stays as it is
        }
        core::DeactiveShowAvi(&window);
        core::DeactiveShowAvi(&window);
    }
    EXPECT_EQ(button(), nullptr);
    {
        core::UninterruptibleCalls scope(QStringLiteral("Uma única transação."));
        core::ActiveShowAvi(&window, 1);
        ASSERT_NE(button(), nullptr);
        EXPECT_FALSE(button()->isEnabled());
        EXPECT_EQ(button()->toolTip(), "Uma única transação.");
        EXPECT_FALSE(core::interruption::request());
        core::DeactiveShowAvi(&window);
    }
}

TEST_F(WidgetHostFixture, BusyCursorAndPaintingFreezeNest)
{
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    host.pushBusyCursor();
    host.pushBusyCursor();
    host.popBusyCursor();
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    host.popBusyCursor();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    host.popBusyCursor(); // unbalanced: ignored
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    QWidget window;
    host.freezePainting(&window);
    host.freezePainting(&window);
    host.unfreezePainting(&window);
    EXPECT_FALSE(window.updatesEnabled());
    host.unfreezePainting(&window);
    EXPECT_TRUE(window.updatesEnabled());
    host.unfreezePainting(&window); // harmless
    auto* gone = new QWidget;
    host.freezePainting(gone);
    delete gone;
    host.unfreezePainting(gone); // a window freed while frozen: nothing touched
}

TEST_F(WidgetHostFixture, AbortedHandlerUndoesCursorAndFreeze)
{
    QWidget window;
    hosttest::onModal([&](QWidget* m) { clickButton(m, "btnOK"); });
    const bool ok = core::dispatch([&] {
        core::host().pushBusyCursor();
        core::ScopeExit cursor([] { core::host().popBusyCursor(); });
        core::host().freezePainting(&window);
        core::ScopeExit freeze([&] { core::host().unfreezePainting(&window); });
        core::MensErro("Interrompido.", true);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(window.updatesEnabled());
}

TEST_F(WidgetHostFixture, LoginDialogAsksOperatorAndHiddenPassword)
{
    QString op = QStringLiteral("ADMIN"), pw;
    QString reason, echoed;
    hosttest::onModal([&](QWidget* m) {
        EXPECT_EQ(m->objectName(), QStringLiteral("frmLogin"));
        EXPECT_EQ(m->windowTitle(), QStringLiteral("Entrar no sistema"));
        if (auto* why = m->findChild<QLabel*>(QStringLiteral("lblMotivo")))
            reason = why->text();
        auto* user = m->findChild<QLineEdit*>(QStringLiteral("edtOperador"));
        auto* pass = m->findChild<QLineEdit*>(QStringLiteral("edtSenha"));
        ASSERT_TRUE(user && pass);
        EXPECT_EQ(user->text(), QStringLiteral("ADMIN")); // the suggested code
        EXPECT_EQ(pass->echoMode(), QLineEdit::Password);
        user->setText(QStringLiteral("ana"));
        QTest::keyClicks(pass, QStringLiteral("uma senha"));
        m->findChild<QAbstractButton*>(QStringLiteral("btnEntrar"))->click();
    });
    EXPECT_TRUE(host.askLogin(QStringLiteral("Operador ou senha inválidos."), op, pw));
    EXPECT_EQ(reason, QStringLiteral("Operador ou senha inválidos."));
    EXPECT_EQ(op, QStringLiteral("ANA"));
    EXPECT_EQ(pw, QStringLiteral("uma senha"));

    hosttest::onModal([](QWidget* m) { m->findChild<QAbstractButton*>(QStringLiteral("btnCancelar"))->click(); });
    EXPECT_FALSE(host.askLogin(QString(), op, pw));
}
