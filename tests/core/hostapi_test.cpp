// Host routines: boxes and abort, dispatch, result checker, code helpers,
// catalogue, context, and the scripted host used by every screen test.
#include "client/clientdataset.h"
#include "core/errors.h"
#include "client/hostapi.h"
#include "doubles/scriptedhost.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace core;

namespace {
ScriptedHost::Shown only(const ScriptedHost& h)
{
    EXPECT_EQ(h.shown().size(), 1);
    return h.shown().value(0);
}
} // namespace

TEST(HostApiTest, BoxesGoThroughTheHost)
{
    ScriptedHost h;
    MensInfo("info");
    MensAviso("aviso");
    MensErro("erro", false);
    h.answer(MsgButton::Yes).answer(MsgButton::No);
    EXPECT_TRUE(MensPergunta("continua?"));
    EXPECT_FALSE(MensPergunta("de novo?"));
    ASSERT_EQ(h.shown().size(), 5);
    EXPECT_EQ(h.shown()[0].msgKind, MsgKind::Information);
    EXPECT_EQ(h.shown()[1].msgKind, MsgKind::Warning);
    EXPECT_EQ(h.shown()[2].msgKind, MsgKind::Error);
    EXPECT_EQ(h.shown()[3].msgKind, MsgKind::Question);
    EXPECT_EQ(h.shown()[3].buttons, QList<MsgButton>({MsgButton::Yes, MsgButton::No}));
    EXPECT_EQ(h.messageTexts(), QStringList({"info", "aviso", "erro", "continua?", "de novo?"}));
}

TEST(HostApiTest, MensErroWithAbortShowsOnceAndAbandonsTheHandler)
{
    ScriptedHost h;
    bool after = false;
    EXPECT_FALSE(dispatch([&] {
        MensErro("Filial inválida.", true);
        after = true;
    }));
    EXPECT_FALSE(after);
    EXPECT_EQ(h.messageTexts(), QStringList({"Filial inválida."}));
}

TEST(HostApiTest, DispatchShowsOtherErrorsOnceToPeopleAndLogsTheDetail)
{
    ScriptedHost h;
    QStringList logged;
    setLogSink([&](const QString& line) { logged << line; });
    EXPECT_TRUE(dispatch([] {}));
    EXPECT_FALSE(dispatch([] { throw Error("Falha de conexão"); }));
    EXPECT_FALSE(dispatch([] { throw ServerError("NOTA_ALT"); }));
    EXPECT_FALSE(dispatch([] {
        throw ConnectionError("Consulta qryFilial: conexão \"dtmDBGeral\" com o banco de dados não existe",
                              "O sistema não está ligado ao seu banco de dados.");
    }));
    EXPECT_FALSE(dispatch([] { throw std::runtime_error("boom"); }));
    EXPECT_FALSE(dispatch([] { throw 42; }));
    EXPECT_FALSE(dispatch([] { throw Abort("já mostrado"); }));
    setLogSink(nullptr);
    const QStringList shown = h.messageTexts();
    ASSERT_EQ(shown.size(), 5);
    EXPECT_EQ(shown.mid(0, 3),
              QStringList({"Falha de conexão", "NOTA_ALT", "O sistema não está ligado ao seu banco de dados."}));
    EXPECT_TRUE(shown.at(3).startsWith("Ocorreu uma falha inesperada. Tente de novo")) << shown.at(3).toStdString();
    EXPECT_EQ(shown.at(4), "Erro desconhecido.");
    EXPECT_EQ(logged,
              QStringList({"Consulta qryFilial: conexão \"dtmDBGeral\" com o banco de dados não existe",
                           "Falha inesperada: boom"}));
    for (const auto& s : h.shown())
        EXPECT_EQ(s.msgKind, MsgKind::Error);
}

TEST(HostApiTest, AbortRunsTheCleanUpOfEveryGuard)
{
    ScriptedHost h;
    ClientDataset ds("cds");
    ds.addString("A", 1);
    ds.createDataSet();
    ClientDataset::Event scroll = [](ClientDataset&) {};
    ds.setAfterScroll(scroll);
    QObject screen;
    dispatch([&] {
        ActiveShowAvi(&screen, 1, "Aguarde");
        ScopeExit stopAvi([&] { DeactiveShowAvi(&screen); });
        h.pushBusyCursor();
        h.freezePainting(nullptr);
        ds.setAfterScroll({});
        ds.disableControls();
        ScopeExit restore([&] {
            ds.enableControls();
            ds.setAfterScroll(scroll);
            h.unfreezePainting(nullptr);
            h.popBusyCursor();
        });
        MensErro("Erro ao consultar.", true);
    });
    EXPECT_EQ(h.animationDepth(), 0);
    EXPECT_EQ(h.animationStarts(), 1);
    EXPECT_EQ(h.lastAnimationCaption(), "Aguarde");
    EXPECT_EQ(h.busyDepth(), 0);
    EXPECT_EQ(h.frozenDepth(), 0);
    EXPECT_EQ(h.unbalanced(), 0);
    EXPECT_FALSE(ds.controlsDisabled());
    EXPECT_TRUE(bool(ds.afterScroll()));
    EXPECT_EQ(h.messageTexts(), QStringList({"Erro ao consultar."}));
    // Stopping an animation that does not show is harmless.
    DeactiveShowAvi(&screen);
    EXPECT_EQ(h.animationDepth(), 0);
}

TEST(HostApiTest, CheckResultServ)
{
    ScriptedHost h;
    EXPECT_EQ(CheckResultServ(ServerResult::success(Variant(5)), true, 0).toInt(), 5);
    EXPECT_TRUE(h.shown().isEmpty());
    try {
        CheckResultServ(ServerResult::failure("Nota já cancelada"), true, 0);
        ADD_FAILURE() << "a failed result must abort";
    } catch (const Abort& a) {
        EXPECT_EQ(a.shownText(), "Nota já cancelada");
    }
    EXPECT_EQ(only(h).text, "Nota já cancelada");
    h.clearShown();
    EXPECT_THROW(CheckResultServ(ServerResult::failure("silencioso"), false), Abort);
    EXPECT_TRUE(h.shown().isEmpty());
    // A failure without a message still says something.
    EXPECT_THROW(CheckResultServ(ServerResult::failure(""), true), Abort);
    EXPECT_FALSE(only(h).text.isEmpty());
}

TEST(HostApiTest, EmptyStringAndAjusta)
{
    EXPECT_TRUE(EmptyString(""));
    EXPECT_TRUE(EmptyString("  \t"));
    EXPECT_FALSE(EmptyString(" 1 "));
    EXPECT_EQ(Ajusta("1", 4), "0001");
    EXPECT_EQ(Ajusta(" 12 ", 4), "0012");
    EXPECT_EQ(Ajusta("0001", 4), "0001");
    EXPECT_EQ(Ajusta("42", 10), "0000000042");
    EXPECT_EQ(Ajusta("", 4), "");
    EXPECT_EQ(Ajusta("    ", 4), "");
    EXPECT_EQ(Ajusta("12345", 4), "12345"); // never cut
    EXPECT_EQ(Ajusta(" 1a ", 4), "1a");     // not a digit code: trimmed, as typed
}

TEST(HostApiTest, CatalogueLookup)
{
    TMessages msg({"NOTA_ALT|A nota foi alterada por outro usuário.", "Espaco|  com brancos  ", "DUPLA|primeira",
                   "dupla|segunda", "sem barra", "BARRAS|a|b", " CHAVE |x", "VAZIO|"});
    EXPECT_EQ(msg.Msg("nota_alt"), "A nota foi alterada por outro usuário.");
    EXPECT_EQ(msg.Msg("ESPACO"), "  com brancos  ");
    EXPECT_EQ(msg.Msg("Dupla"), "primeira");
    EXPECT_EQ(msg.Msg("BARRAS"), "a|b");
    EXPECT_EQ(msg.Msg("chave"), "x");
    EXPECT_EQ(msg.Msg("VAZIO"), "");
    EXPECT_TRUE(msg.contains("vazio"));
    EXPECT_EQ(msg.Msg("FALTA"), "<FALTA>");
    EXPECT_FALSE(msg.contains("FALTA"));
    EXPECT_FALSE(msg.contains("sem barra"));
}

TEST(HostApiTest, ContextAndModuleLoader)
{
    HostContext saved = context();
    context().filial = "0002";
    context().webPort = 9000;
    EXPECT_EQ(FiliProc(), "0002");
    EXPECT_EQ(WebPort(), 9000);
    EXPECT_EQ(DBPict(0), "99.999.9999");
    EXPECT_EQ(DBPict(7), "");
    context().loadModule = nullptr;
    EXPECT_THROW(LoadBPL("EXP03600", Variant()), Error);
    QString opened;
    context().loadModule = [&](const QString& code, const Variant& p) { opened = code + p.toString(); };
    LoadBPL("EXP00106", "x");
    EXPECT_EQ(opened, "EXP00106x");
    context() = saved;
}

TEST(ScriptedHostTest, PickersAndFindFollowTheScript)
{
    ScriptedHost h;
    ClientDataset ds("cdsRota");
    ds.addString("CDROTA", 4);
    ds.createDataSet();
    EXPECT_FALSE(host().pickRow(ds, "Rota", "Não há rota cadastrada.")); // empty: no answer used
    EXPECT_EQ(only(h).text, "Não há rota cadastrada.");
    DataPacket p(ds.toPacket().fields());
    for (const char* r : {"0003", "0001", "0002"})
        p.appendRow({r});
    ds.loadFromPacket(p);
    h.pickRow(2).pickNothing().pickRows({2, 0}).findRow(1);
    EXPECT_TRUE(host().pickRow(ds, "Rota", "vazio"));
    EXPECT_EQ(ds.recNo(), 2);
    QString keys = "inalterado";
    EXPECT_FALSE(host().pickRows(ds, "CDROTA", "Rotas", keys));
    EXPECT_EQ(keys, "inalterado");
    EXPECT_TRUE(host().pickRows(ds, "CDROTA", "Rotas", keys));
    EXPECT_EQ(keys, "'0003','0002'");
    host().find(ds);
    EXPECT_EQ(ds.recNo(), 1);
    EXPECT_EQ(h.pendingAnswers(), 0);
    EXPECT_EQ(h.shown().last().kind, "find");
}

TEST(ScriptedHostTest, UnansweredPromptsFailLoudly)
{
    QStringList reports;
    {
        ScriptedHost h;
        h.reportLeftovers = [&](const QString& s) { reports << s; };
        try {
            MensPergunta("Cancela a nota?");
            ADD_FAILURE();
        } catch (const Error& e) {
            EXPECT_EQ(e.message(), "Unanswered prompt: message Cancela a nota?");
        }
        // Inside dispatch the failure cannot escape, but it is still recorded.
        EXPECT_FALSE(dispatch([] { MensPergunta("Outra?"); }));
        EXPECT_EQ(h.unanswered().size(), 2);
        h.answer(MsgButton::OK); // left over
        h.answer(MsgButton::Yes);
        EXPECT_THROW(MensPergunta("Com OK?"), Error); // OK is not a button of a question
    }
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].contains("Cancela a nota?"));
    EXPECT_TRUE(reports[0].contains("never used"));
}

TEST(ScriptedHostTest, InstallsItselfAndRestoresThePreviousHost)
{
    EXPECT_EQ(installedHost(), nullptr);
    {
        ScriptedHost outer;
        EXPECT_EQ(&host(), &outer);
        {
            ScriptedHost inner;
            EXPECT_EQ(&host(), &inner);
        }
        EXPECT_EQ(&host(), &outer);
    }
    EXPECT_EQ(installedHost(), nullptr);
    // The default host answers with the first button and never blocks.
    EXPECT_TRUE(MensPergunta("sem host"));
}
