// Controls: masked edits in the platform notation, the date edit, lookup
// button, radio buttons run by code, group boxes and focus enter/exit.

#include "hosttestutil.h"

#include "host/controls.h"
#include "host/routines.h"

#include "core/errors.h"
#include "doubles/scriptedhost.h"

#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace host;

TEST(MaskEdit, PlatformMasksMapToQtInputMasks)
{
    EXPECT_EQ(TMaskEdit::toQtInputMask("9999;0; "), "0000; "); // optional digits, blank space
    EXPECT_EQ(TMaskEdit::toQtInputMask("9999999999;0; "), "0000000000; ");
    EXPECT_EQ(TMaskEdit::toQtInputMask("00/00/0000;1;_"), "99/99/9999;_"); // required digits
    EXPECT_EQ(TMaskEdit::toQtInputMask("!99.999.9999;0;_"), "00.000.0000;_");
    EXPECT_EQ(TMaskEdit::toQtInputMask(">LLL-aaa;1;*"), ">AAA-nnn;*");
    EXPECT_EQ(TMaskEdit::toQtInputMask("\\A9;0; "), "\\A0; "); // escaped literal stays literal
    EXPECT_EQ(TMaskEdit::toQtInputMask("99h;0; "), "00\\h; "); // a Qt mask letter as literal is escaped
    EXPECT_EQ(TMaskEdit::toQtInputMask(""), "");
}

TEST(MaskEdit, StoredTextHasNoBlanksAndNoLiteralsUnlessStored)
{
    TMaskEdit branch("medFilial", nullptr, "9999;0; ");
    EXPECT_EQ(branch.text(), "");
    QTest::keyClicks(&branch, "12");
    EXPECT_EQ(branch.text(), "12");
    branch.setText("0001");
    EXPECT_EQ(branch.text(), "0001");
    branch.setText("123456"); // longer than the mask: cut to its four places
    EXPECT_EQ(branch.text(), "1234");

    TMaskEdit noLiterals("med", nullptr, "99.999;0;_");
    noLiterals.setText("12345");
    EXPECT_EQ(noLiterals.displayText(), "12.345");
    EXPECT_EQ(noLiterals.text(), "12345");

    TMaskEdit withLiterals("med", nullptr, "99.999;1;_");
    withLiterals.setText("12.345");
    EXPECT_EQ(withLiterals.text(), "12.345");
}

TEST(MaskEdit, RefusesWhatTheMaskDoesNotAdmit)
{
    TMaskEdit exp("medDENrExp", nullptr, "9999999999;0; ");
    QTest::keyClicks(&exp, "4a2-");
    EXPECT_EQ(exp.text(), "42");
}

TEST(DateEditPlus, ShowsDatesInBrazilianFormWithWeekday)
{
    TDateEditPlus dep("depInicial");
    dep.SetDate(core::Date::fromQDate(QDate(2024, 3, 5)));
    EXPECT_EQ(dep.text(), "05/03/2024");
    EXPECT_EQ(dep.weekdayName(), QString::fromUtf8("Terça"));
    EXPECT_EQ(dep.GetDate().wholeDays(), core::Date::fromQDate(QDate(2024, 3, 5)).wholeDays());

    const char* const expected[] = {"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"};
    for (int i = 0; i < 7; ++i) {
        dep.SetDate(core::Date::fromQDate(QDate(2024, 3, 3).addDays(i))); // 3 March 2024 was a Sunday
        EXPECT_EQ(dep.weekdayName(), QString::fromUtf8(expected[i]));
    }
}

TEST(DateEditPlus, DropsTheTimeOfDay)
{
    TDateEditPlus dep("dep");
    core::Date d = core::Date::fromQDate(QDate(2024, 12, 31));
    d.days += 0.75; // 18:00
    dep.SetDate(d);
    EXPECT_EQ(dep.text(), "31/12/2024");
    EXPECT_EQ(dep.GetDate().days, double(d.wholeDays()));
}

TEST(DateEditPlus, BlankIsAllowed)
{
    core::ScriptedHost h;
    TDateEditPlus dep("dep");
    EXPECT_TRUE(dep.isBlank());
    EXPECT_EQ(dep.text(), "");
    EXPECT_EQ(dep.GetDate().days, 0.0);
    EXPECT_NO_THROW(dep.CheckValidDate());
    dep.SetDate(core::Date::fromQDate(QDate(2024, 1, 2)));
    dep.setText("");
    EXPECT_TRUE(dep.isBlank());
    EXPECT_TRUE(h.shown().isEmpty());
}

TEST(DateEditPlus, TextThatIsNotADateIsReportedAndAborts)
{
    core::ScriptedHost h;
    TDateEditPlus dep("dep");
    QTest::keyClicks(&dep, "31022024");
    EXPECT_EQ(dep.text(), "31/02/2024");
    EXPECT_FALSE(dep.isValidText());
    EXPECT_THROW(dep.CheckValidDate(), core::Abort);
    EXPECT_THROW(dep.GetDate(), core::Abort);
    ASSERT_EQ(h.shown().size(), 2);
    EXPECT_EQ(h.shown().at(0).msgKind, core::MsgKind::Error);
    EXPECT_EQ(h.shown().at(0).text, QString::fromUtf8("\"31/02/2024\" não é uma data válida."));

    dep.setText("12/03/2"); // partly typed
    EXPECT_FALSE(dep.isValidText());
    EXPECT_TRUE(dep.weekdayName().isEmpty());
}

TEST(RadioButton, ClickHandlerRunsWhenCheckedByCode)
{
    QWidget box;
    TRadioButton all("rbtTodos", "Todos", &box), list("rbtLista", "Lista", &box);
    int allClicks = 0, listClicks = 0;
    all.onClick = [&] { ++allClicks; };
    list.onClick = [&] { ++listClicks; };

    all.setChecked(true);
    EXPECT_EQ(allClicks, 1);
    all.setChecked(true); // already checked: no new click
    EXPECT_EQ(allClicks, 1);
    list.setChecked(true); // the sibling unchecks, only the checked one runs
    EXPECT_TRUE(!all.isChecked());
    EXPECT_EQ(listClicks, 1);
    EXPECT_EQ(allClicks, 1);
    QTest::mouseClick(&all, Qt::LeftButton);
    EXPECT_EQ(allClicks, 2);
}

TEST(RadioButton, HandlerFailureIsShownAndDoesNotEscape)
{
    core::ScriptedHost h;
    TRadioButton rb("rbt", "X");
    rb.onClick = [] { throw core::Error("falhou"); };
    EXPECT_NO_THROW(rb.setChecked(true));
    EXPECT_TRUE(rb.isChecked());
    EXPECT_EQ(h.messageTexts(), QStringList{"falhou"});
}

TEST(GroupBox, EnabledStateGovernsChildren)
{
    TGroupBox grb("grbGrade", "Grade de Pedidos");
    auto* edit = new TEdit("edtNumeroG", &grb);
    auto* own = new TEdit("edtOwn", &grb);
    own->setEnabled(false);
    grb.setEnabled(false);
    EXPECT_FALSE(edit->isEnabled());
    grb.setEnabled(true);
    EXPECT_TRUE(edit->isEnabled());
    EXPECT_FALSE(own->isEnabled()); // its own flag survives the box's
}

TEST(SetChildEnabled, SwitchesEveryControlInside)
{
    QWidget panel;
    auto* a = new TEdit("a", &panel);
    auto* inner = new QWidget(&panel);
    auto* b = new TEdit("b", inner);
    SetChildEnabled(&panel, false);
    EXPECT_FALSE(a->isEnabled());
    EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(panel.isEnabled());
    SetChildEnabled(&panel, true);
    EXPECT_TRUE(a->isEnabled());
    EXPECT_TRUE(b->isEnabled());
    SetChildEnabled(nullptr, true); // harmless
}

TEST(FocusTracking, PanelEnterAndExitFollowTheFocus)
{
    QWidget window;
    auto* lay = new QVBoxLayout(&window);
    auto* panel = new TPanel("panFiltro", &window);
    auto* pl = new QVBoxLayout(panel);
    auto* e1 = new TEdit("e1", panel);
    auto* e2 = new TEdit("e2", panel);
    pl->addWidget(e1);
    pl->addWidget(e2);
    auto* outside = new TEdit("outside", &window);
    lay->addWidget(panel);
    lay->addWidget(outside);
    QStringList events;
    panel->onEnter = [&] { events << "enter"; };
    panel->onExit = [&] { events << "exit"; };
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    e1->setFocus();
    e2->setFocus();
    outside->setFocus();
    e2->setFocus();
    EXPECT_EQ(events, (QStringList{"enter", "exit", "enter"}));
}

TEST(BtnPesquisa, FillsTheEditWithTheChosenRowAndRunsTheHandlers)
{
    core::ScriptedHost h;
    core::ClientDataset ds("qryFilial");
    hosttest::fillPeople(ds, {"0001|Matriz", "0002|Filial Sul", "0003|Filial Norte"});
    core::DataSource dts("dtsFilial");
    dts.setDataSet(&ds);
    TMaskEdit med("medFilial", nullptr, "9999;0; ");
    TBtnPesquisa btp("btpPesqFilial");
    btp.edit = &med;
    btp.title = "Filial";
    btp.emptyError = QString::fromUtf8("Não há filial cadastrada.");
    btp.dataSource = &dts;
    QStringList calls;
    btp.onBeforePesq = [&](bool&) { calls << "before"; };
    btp.onAfterPesq = [&] { calls << "after:" + ds.fieldByName("NOME").asString(); };

    h.pickRow(1);
    btp.click();
    EXPECT_EQ(calls, (QStringList{"before", "after:Filial Sul"}));
    EXPECT_EQ(med.text(), "0002");
    ASSERT_EQ(h.shown().size(), 1);
    EXPECT_EQ(h.shown().at(0).title, "Filial");
    EXPECT_EQ(h.shown().at(0).text, QString::fromUtf8("Não há filial cadastrada."));

    calls.clear();
    h.pickNothing();
    btp.click();
    EXPECT_EQ(calls, QStringList{"before"});
    EXPECT_EQ(med.text(), "0002");

    calls.clear();
    btp.onBeforePesq = [&](bool& go) {
        calls << "before";
        go = false;
    };
    btp.click(); // no dialog at all
    EXPECT_EQ(calls, QStringList{"before"});
    EXPECT_EQ(h.shown().size(), 2);
    EXPECT_TRUE(h.unanswered().isEmpty());
}

TEST(BtnPesquisa, OwnClickHandlerReplacesTheLookup)
{
    core::ScriptedHost h;
    TBtnPesquisa btp("btpListaRota");
    int clicks = 0;
    btp.onClick = [&] { ++clicks; };
    btp.click();
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(h.shown().isEmpty());
}

TEST(BtnPesquisa, WithoutDataSourceSaysSo)
{
    core::ScriptedHost h;
    TBtnPesquisa btp("btp");
    btp.title = "Rota";
    btp.click();
    ASSERT_EQ(h.messageTexts().size(), 1);
    EXPECT_TRUE(h.messageTexts().at(0).contains("Rota"));
}

TEST(ListString, KeysAreQuotedAndHostileKeysRefused)
{
    EXPECT_EQ(joinListString({"0000000012", "0000000015"}), "'0000000012','0000000015'");
    EXPECT_EQ(joinListString({}), "");
    EXPECT_EQ(joinListString({"R-01/A.2 x_"}), "'R-01/A.2 x_'");
    EXPECT_THROW(joinListString({"12','13"}), core::Error);
    EXPECT_THROW(joinListString({"1;DROP"}), core::Error);
}
