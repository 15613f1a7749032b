// The replication-error dialog: texts, the two layouts, the answer written
// through the caller's Boolean, closing without a button, a fresh instance
// per call, and the real widget dialog headless.

#include "screenfixture.h"

#include <screens/replic_error/erroreplic.h>

#include <host/hostglobals.h>
#include <host/dbgrid.h>
#include <host/widgethost.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace core;
using namespace testing_module;
using host::Px;

namespace {

struct Seen {
    QString text;
    int width = 0, height = 0;
    int okLeft = 0, cancelaLeft = 0;
    bool originShown = false;
    int rows = 0;
    QString title;
};

class ErroReplicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.reportLeftovers = [](const QString& what) { ADD_FAILURE() << what.toStdString(); };
        host.inspectForm = [this](QObject& f) {
            auto& d = static_cast<TfrmErroReplic&>(f);
            seen.text = d.memInforma->toPlainText();
            seen.width = d.width();
            seen.height = d.height();
            seen.okLeft = d.btnSim->x();
            seen.cancelaLeft = d.btnCancela->x();
            seen.originShown = !d.dbgMensagem->isColumnHidden(1);
            seen.rows = d.cdsErroReplic->recordCount();
            seen.title = d.windowTitle();
            instances << &d;
        };
    }
    /// Runs the dialog and returns the answer written into the caller's Boolean.
    bool run(bool origem, const QString& tipo, bool before)
    {
        bool answer = before;
        ErroReplic(enderecoResultado(&answer), Variant(docReplicPacket({"0000000001", "0000000002"})), origem, tipo);
        return answer;
    }
    ScriptedHost host;
    Seen seen;
    QList<QPointer<QObject>> instances;
};

TEST_F(ErroReplicTest, OkWritesFalseAndCancelaWritesTrue)
{
    host.formClick("btnSim");
    EXPECT_FALSE(run(false, "P", true));
    EXPECT_FALSE(boReplic);
    host.formClick("btnCancela");
    EXPECT_TRUE(run(false, "P", false));
    EXPECT_TRUE(boReplic);
    ASSERT_EQ(host.shown().size(), 2);
    EXPECT_EQ(host.shown()[0].kind, "form");
    EXPECT_EQ(host.shown()[0].text, "frmErroReplic");
    EXPECT_EQ(seen.title, "Atenção");
    EXPECT_EQ(seen.rows, 2);
}

TEST_F(ErroReplicTest, ClosingWithoutAButtonCountsAsCancelaWhateverTheLastRunAnswered)
{
    host.formClick("btnSim");
    ASSERT_FALSE(run(false, "P", true));
    host.formCloseBox();
    EXPECT_TRUE(run(false, "P", false));
    host.formClick("btnSim");
    ASSERT_FALSE(run(false, "P", true));
    host.formEscape();
    EXPECT_TRUE(run(false, "P", false));
}

TEST_F(ErroReplicTest, TextsByKind)
{
    const QString ped = "Este documento está replicado. Se exclui-lo irá excluir também o(s) \n"
                        "documento(s) replicado(s) correspondente(s). ";
    const QString item =
        "Este documento está replicado. A exclusão do item irá excluir também o item do documento replicado.";
    for (const auto& [tipo, want] : {std::pair<QString, QString>{"P", ped}, {"I", item}, {"", item}, {"X", item}}) {
        host.formClick("btnSim");
        run(false, tipo, false);
        EXPECT_EQ(seen.text, want) << tipo.toStdString();
    }
}

TEST_F(ErroReplicTest, TwoLayoutsByOrigin)
{
    host.formClick("btnSim");
    run(false, "P", false);
    EXPECT_EQ(seen.width, Px(509 - 8));
    EXPECT_EQ(seen.height, Px(199));
    EXPECT_EQ(seen.okLeft, Px(170));
    EXPECT_EQ(seen.cancelaLeft, Px(258));
    EXPECT_FALSE(seen.originShown);

    host.formClick("btnSim");
    run(true, "P", false);
    EXPECT_EQ(seen.width, Px(610 - 8));
    EXPECT_EQ(seen.okLeft, Px(220));
    EXPECT_EQ(seen.cancelaLeft, Px(308));
    EXPECT_TRUE(seen.originShown);
}

TEST_F(ErroReplicTest, EveryCallBuildsAFreshInstanceThatIsReleased)
{
    host.formClick("btnSim").formClick("btnSim");
    run(false, "P", false);
    run(false, "P", false);
    ASSERT_EQ(instances.size(), 2);
    EXPECT_NE(instances[0].data(), instances[1].data());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(instances[0].isNull());
    EXPECT_TRUE(instances[1].isNull());
    EXPECT_EQ(frmErroReplic, nullptr);
}

TEST_F(ErroReplicTest, AnUnscriptedRunFailsAndCountsAsCancela)
{
    host.reportLeftovers = {};
    bool answer = false;
    EXPECT_THROW(ErroReplic(enderecoResultado(&answer), Variant(docReplicPacket({"1"})), false, "P"), core::Error);
    EXPECT_TRUE(boReplic);
}

// --- the real dialog, headless ---------------------------------------------------------

class RealErroReplicTest : public ::testing::Test {
protected:
    /// Runs the widget dialog; `act` runs once it is showing modally.
    bool runReal(const std::function<void(QDialog&)>& act)
    {
        host::WidgetHost widgets;
        HostServices* before = installedHost();
        setHost(&widgets);
        bool acted = false;
        QElapsedTimer waited;
        waited.start();
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d)
                return;
            if (waited.elapsed() > 10000) {
                // Never let a lost event hang the suite: give up visibly.
                ADD_FAILURE() << "the dialog did not close";
                d->reject();
                return;
            }
            if (acted || !d->isActiveWindow()) {
                d->activateWindow(); // shortcuts need the active window
                return;
            }
            acted = true;
            act(*d);
        });
        poll.start();
        bool answer = false;
        ErroReplic(enderecoResultado(&answer), Variant(docReplicPacket({"0000000001"})), true, "P");
        setHost(before);
        EXPECT_TRUE(acted);
        return answer;
    }
};

TEST_F(RealErroReplicTest, ButtonsAndTheCloseBoxWorkOnTheRealDialog)
{
    EXPECT_FALSE(runReal([](QDialog& d) {
        EXPECT_TRUE(d.isVisible());
        QTest::mouseClick(d.findChild<QPushButton*>("btnSim"), Qt::LeftButton);
    }));
    EXPECT_TRUE(runReal([](QDialog& d) { QTest::keyClick(d.findChild<QPushButton*>("btnCancela"), Qt::Key_Space); }));
    EXPECT_FALSE(runReal([](QDialog& d) { QTest::keyClick(&d, Qt::Key_O, Qt::AltModifier); }));
    EXPECT_TRUE(runReal([](QDialog& d) { d.close(); }));
    EXPECT_TRUE(runReal([](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }));
}

} // namespace
