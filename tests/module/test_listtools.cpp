// What the screen offers around its own behaviour, driven as an operator
// would: sorting by title clicks, the counts in the status line, shortcuts
// and tooltips, exporting the grid (files read back), the print preview, the
// operator's guide and Qt's own texts in Portuguese.
//
// With EXP_DOC_SHOTS set to a folder, the tests also write the pictures the
// docs show there (lista-ordenada.png, visualizar-impressao.png,
// guia-na-tela.png).

#include "screenfixture.h"

#include <screens/filter/filtrocanc.h>

#include <host/gridexport.h>
#include <host/moduleloader.h>
#include <host/qttranslations.h>

#include <client/hostapi.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QPrintPreviewWidget>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolTip>

using namespace core;
using namespace testing_module;
using cli_exp01800::inNotasMarcadas;

namespace {

FakeTransport::Answer oneEntryAnswer()
{
    return FakeTransport::payload(Variant::array({Variant(), Variant(), Variant()}));
}

/// Texts of one grid column, top to bottom, as the grid shows them.
QStringList shown(const host::DBGrid* g, int col)
{
    QStringList out;
    for (int r = 0; r < g->model()->rowCount(); ++r)
        out << g->model()->index(r, col).data().toString();
    return out;
}

/// A CSV file's lines split into fields (no quoted separators in these tests).
QList<QStringList> readCsv(const QString& path, QByteArray* head = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    if (head)
        *head = all.left(3);
    QList<QStringList> rows;
    for (const QString& line : QString::fromUtf8(all.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        rows << line.split(u';');
    return rows;
}

/// One member of an xlsx (a zip), through unzip.
QString unzipMember(const QString& zip, const QString& member)
{
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, member});
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

void shot(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("EXP_DOC_SHOTS");
    if (!dir.isEmpty())
        w->grab().save(QDir(dir).filePath(name));
}

class ListToolsTest : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        static const bool translated = host::installQtTranslations(*qApp); // as the shell does at start
        ASSERT_TRUE(translated);
        frm = open();
        ASSERT_NE(frm, nullptr);
        frm->show();
        frm->dbgPadrao->setFocus();
        settle();
    }

    void load(const std::vector<Entry>& entries)
    {
        fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket(entries)));
        frm->pgcPadrao->setActivePage(frm->tshFolhaDados);
        frm->sbtVerificarClick();
        settle();
        fake.reset();
        host.clearShown();
    }
    /// Dataset order (entry date) differs from every column's order.
    void loadFour()
    {
        Entry a{"0000000001"}, b{"0000000002"}, c{"0000000003", "C"}, d{"0000000004"};
        a.nrnotafisc = "NF10", a.dayOffset = -3;
        b.nrnotafisc = "NF9", b.dayOffset = -2, b.idstatusnfe = "T";
        c.nrnotafisc = "NF2", c.dayOffset = -1;
        d.nrnotafisc = "NF1", d.dayOffset = 0;
        load({a, b, c, d});
    }
    QString counts() const { return frm->lblContagem->text(); }
    /// A key pressed with the focus in the entry grid (shortcuts follow the focus).
    void press(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier)
    {
        QApplication::setActiveWindow(frm->window());
        frm->dbgPadrao->setFocus();
        settle();
        QTest::keyClick(frm->dbgPadrao, k, m);
        settle();
    }

    /// Answers the next modal file dialog with `path`, once it shows.
    void answerFileDialog(const QString& path)
    {
        auto* poll = new QTimer(qApp);
        poll->setInterval(20);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, path] {
            if (auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                poll->deleteLater();
                poll->stop();
                // Typed into the name edit, as the operator does (selectFile
                // leaves a focused edit alone).
                dlg->setDirectory(QFileInfo(path).absolutePath());
                auto* name = dlg->findChild<QLineEdit*>("fileNameEdit");
                ASSERT_NE(name, nullptr);
                name->setText(QFileInfo(path).fileName());
                QMetaObject::invokeMethod(dlg, "accept");
            }
        });
        poll->start();
    }

    TfrmConLancto* frm = nullptr;
};

constexpr int kColNrNota = 7; // NRNOTAFISC in the entry grid
constexpr int kColStatus = 9; // IDSTATUS

// --- sorting and counts ------------------------------------------------------------

TEST_F(ListToolsTest, TitleClicksSortTheGridOnlyAndTheCheckTitleStillTicksAll)
{
    loadFour();
    const QStringList datasetOrder = columnValues(*frm->cdsLanctoNF, "NRLANCTONF");
    QHeaderView* h = frm->dbgPadrao->horizontalHeader();

    clickTitle(frm->dbgPadrao, kColNrNota);
    EXPECT_EQ(shown(frm->dbgPadrao, kColNrNota), QStringList({"NF1", "NF2", "NF9", "NF10"}));
    EXPECT_TRUE(h->isSortIndicatorShown());
    EXPECT_EQ(h->sortIndicatorSection(), kColNrNota);
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::AscendingOrder);
    clickTitle(frm->dbgPadrao, kColNrNota);
    EXPECT_EQ(shown(frm->dbgPadrao, kColNrNota), QStringList({"NF10", "NF9", "NF2", "NF1"}));
    EXPECT_EQ(h->sortIndicatorOrder(), Qt::DescendingOrder);
    // A status column sorts by the word shown.
    clickTitle(frm->dbgPadrao, kColStatus);
    EXPECT_EQ(shown(frm->dbgPadrao, kColStatus), QStringList({"Cancelada", "Pendente", "Pendente", "Pendente"}));
    clickTitle(frm->dbgPadrao, kColNrNota); // ascending again: NF1, the dataset's last, on top

    // A click on the top row ticks the entry shown there, not the dataset's first.
    fake.enqueue(kCancel, "GetReplicAprov", FakeTransport::payload(replicAprovPacket("", "", "")));
    fake.enqueue(kCancel, "VerReplic", oneEntryAnswer());
    clickCell(frm->dbgPadrao, 0);
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK"), QStringList({"N", "N", "N", "S"}));
    EXPECT_EQ(fake.callsTo("VerReplic").at(0).arg(2), Variant("0000000004"));
    EXPECT_EQ(inNotasMarcadas, 1);
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "NRLANCTONF"), datasetOrder);
    EXPECT_EQ(frm->cdsLanctoNF->fieldByName("NRLANCTONF").asString(), "0000000004");
    settle();
    EXPECT_EQ(counts(), "Lançamentos: 4 | marcados: 1");
    shot(frm, "lista-ordenada.png");

    // The check column's title unticks all as before and keeps the sort.
    clickTitle(frm->dbgPadrao, 0);
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "IDCHECK"), QStringList({"N", "N", "N", "N"}));
    EXPECT_EQ(h->sortIndicatorSection(), kColNrNota);
    EXPECT_EQ(shown(frm->dbgPadrao, kColNrNota), QStringList({"NF1", "NF2", "NF9", "NF10"}));

    // Tick-all sends the list in the dataset's order, whatever the grid shows;
    // the list the server returns is shown sorted again.
    QStringList sent;
    fake.on(kCancel, "VerReplic", [&sent](const CallRequest& req) {
        DataPacket p = req.args.at(0).packet();
        const int nr = p.fieldIndex("NRLANCTONF"), chk = p.fieldIndex("IDCHECK");
        for (PacketRow& row : p.rows()) {
            sent << row[size_t(nr)].toString();
            row[size_t(chk)] = Variant("S");
        }
        return FakeTransport::respond(FakeTransport::payload(Variant::array({Variant(p), Variant(), Variant(4)})), req);
    });
    clickTitle(frm->dbgPadrao, 0);
    EXPECT_EQ(sent, datasetOrder);
    EXPECT_EQ(inNotasMarcadas, 4);
    EXPECT_EQ(shown(frm->dbgPadrao, kColNrNota), QStringList({"NF1", "NF2", "NF9", "NF10"}));
    settle();
    EXPECT_EQ(counts(), "Lançamentos: 4 | marcados: 4");
}

TEST_F(ListToolsTest, CountsUseBrazilianDigitGroupingAndFollowThePage)
{
    std::vector<Entry> many;
    for (int i = 1; i <= 1234; ++i)
        many.push_back(Entry{QString::number(i).rightJustified(10, '0')});
    load(many);
    EXPECT_EQ(counts(), "Lançamentos: 1.234 | marcados: 0");
    fake.enqueue(
        kCancel, "GetItem",
        FakeTransport::payload(Variant::array({Variant(itemsPacket("0000000001", 3)), Variant(contasPacket(0))})));
    frm->pgcPadrao->setActivePage(frm->tshFormulario);
    frm->pgcPadraoChange();
    settle();
    EXPECT_EQ(counts(), "Lançamentos: 1.234 | marcados: 0    Itens: 3 | marcados: 0");
}

// --- keyboard, tooltips, guide, Qt's texts -------------------------------------------

TEST_F(ListToolsTest, ShortcutsRunTheirCommandsAndShowInMenusAndTooltips)
{
    loadFour();
    EXPECT_EQ(frm->sbtVerificar->toolTip(), "Verificar (F5)");
    EXPECT_EQ(frm->sbtProcurar->toolTip(), "Procurar (Ctrl+F, F3)");
    EXPECT_EQ(frm->sbtImprimir->toolTip(), "Imprimir (Ctrl+P)");
    EXPECT_EQ(frm->sbtAjuda->toolTip(), "Ajuda (F1)");
    EXPECT_EQ(frm->mnuExportar->shortcut(), QKeySequence("Ctrl+E"));
    EXPECT_TRUE(frm->mnuExportar->toolTip().endsWith("(Ctrl+E)"));
    // The specified shortcuts and hints stay as they were.
    EXPECT_EQ(frm->mnuCancelaNota->shortcut(), QKeySequence("Ctrl+A"));
    EXPECT_EQ(frm->sbtCancelNota->toolTip(), "Cancelar Nota Fiscal");

    fake.enqueue(kCancel, "GetLanctoNF", FakeTransport::payload(lanctoPacket({{"0000000007"}})));
    press(Qt::Key_F5);
    EXPECT_EQ(fake.count("GetLanctoNF"), 1);
    EXPECT_EQ(columnValues(*frm->cdsLanctoNF, "NRLANCTONF"), QStringList{"0000000007"});

    host.findRow(-1);
    press(Qt::Key_F, Qt::ControlModifier);
    host.findRow(-1);
    press(Qt::Key_F3);
    int finds = 0;
    for (const auto& s : host.shown())
        finds += s.kind == "find" ? 1 : 0;
    EXPECT_EQ(finds, 2);

    press(Qt::Key_F1);
    QWidget* guide = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "frmGuia" && w->isVisible())
            guide = w;
    ASSERT_NE(guide, nullptr);
    auto* text = guide->findChild<QTextBrowser*>("txbGuia");
    EXPECT_TRUE(text->toPlainText().startsWith("Guia do operador"));
    EXPECT_TRUE(text->toPlainText().contains("Ctrl+E"));
    const QVariant img = text->document()->resource(QTextDocument::ImageResource, QUrl("lista-ordenada.png"));
    EXPECT_FALSE(img.value<QImage>().isNull() && img.value<QPixmap>().isNull()) << "the guide's pictures load";
    shot(guide, "guia-na-tela.png");
    guide->close();
}

TEST_F(ListToolsTest, BlockedCheckCellsSayWhyAndQtTextsArePortuguese)
{
    loadFour();
    auto hintAt = [this](int row) {
        const QModelIndex idx = frm->dbgPadrao->model()->index(row, 0);
        const QPoint at = frm->dbgPadrao->visualRect(idx).center();
        QHelpEvent e(QEvent::ToolTip, at, frm->dbgPadrao->viewport()->mapToGlobal(at));
        QApplication::sendEvent(frm->dbgPadrao->viewport(), &e);
        const QString t = QToolTip::isVisible() ? QToolTip::text() : QString();
        QToolTip::hideText();
        return t;
    };
    // Dataset order: 1, 2 (NF-e T), 3 (status C), 4.
    EXPECT_EQ(hintAt(0), "");
    EXPECT_EQ(hintAt(1), "Não pode ser marcado: NF-e com status Sefaz Transmitida.");
    EXPECT_EQ(hintAt(2), "Não pode ser marcado: lançamento com status Cancelada.");

    QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "Cancelar");
    EXPECT_EQ(box.button(QDialogButtonBox::Save)->text(), "Salvar");
}

// --- export ------------------------------------------------------------------------

TEST_F(ListToolsTest, CtrlEExportsTheSortedGridAsCsvAndXlsxAndRemembersTheFolder)
{
    loadFour();
    clickTitle(frm->dbgPadrao, kColNrNota);
    QTemporaryDir out;
    QSettings remembered(QSettings::IniFormat, QSettings::UserScope, "Exp01800", "exportar");
    const QVariant before = remembered.value("exportar/pasta");

    const QString csv = out.filePath("lista.csv");
    answerFileDialog(csv);
    press(Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(QFileInfo::exists(csv)) << host.messageTexts().join("\n").toStdString()
                                        << QDir(out.path()).entryList().join(",").toStdString();
    QByteArray bom;
    const QList<QStringList> rows = readCsv(csv, &bom);
    EXPECT_EQ(bom, QByteArray("\xEF\xBB\xBF"));
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[0].first(), "Filial") << "titles as shown, no check column";
    EXPECT_EQ(rows[0].last(), "Status Sefaz");
    const QString today = QDate::currentDate().toString("dd/MM/yyyy");
    EXPECT_EQ(rows[1],
              QStringList({"0001", today, "0000000004", "0000000001", "0000000004", "Cliente 0000000004", "NF1", today,
                           "Pendente", "Rejeitada"}));
    EXPECT_EQ(rows[2][8], "Cancelada");
    EXPECT_EQ(QSettings(QSettings::IniFormat, QSettings::UserScope, "Exp01800", "exportar").value("exportar/pasta"),
              out.path());

    // XLSX of the items: numbers as numbers, texts as texts; and of the entries: dates as dates.
    frm->cdsItensLanctoNF->loadFromPacket(itemsPacket("0000000001", 2));
    const QString items = out.filePath("itens.xlsx");
    EXPECT_EQ(host::exportGrid(*frm->dbgItensNf, items, host::ExportFormat::Xlsx, {"IDCHECK"}), 2);
    const QString sheet = unzipMember(items, "xl/worksheets/sheet1.xml");
    ASSERT_FALSE(sheet.isEmpty()) << "unzip read the workbook";
    // Row 3, column D (QTITEMPROD): 3 as a number cell with a style; column C a text.
    EXPECT_TRUE(sheet.contains(QRegularExpression(R"(<c r="D3" s="\d+"><v>3</v></c>)"))) << sheet.toStdString();
    EXPECT_TRUE(sheet.contains(R"(<c r="C3" t="inlineStr"><is><t>Produto 0002</t>)"));

    const QString entries = out.filePath("lancamentos.xlsx");
    answerFileDialog(entries);
    frm->mnuExportar->trigger(); // the menu entry itself this time
    settle();
    ASSERT_TRUE(QFileInfo::exists(entries)) << host.messageTexts().join("|").toStdString();
    const QString entrySheet = unzipMember(entries, "xl/worksheets/sheet1.xml");
    const qint64 serial = Date::today().wholeDays();
    const QRegularExpression dateCell(QStringLiteral(R"re(<c r="B2" s="(\d+)"><v>%1</v></c>)re").arg(serial));
    const auto m = dateCell.match(entrySheet);
    ASSERT_TRUE(m.hasMatch()) << entrySheet.mid(entrySheet.indexOf("<row r=\"2\""), 300).toStdString();
    // That style is the date format.
    const QString styles = unzipMember(entries, "xl/styles.xml");
    EXPECT_TRUE(styles.contains("formatCode=\"dd/mm/yyyy\"")) << styles.toStdString();

    if (before.isValid())
        remembered.setValue("exportar/pasta", before);
    else
        remembered.remove("exportar/pasta");
}

// --- print preview -------------------------------------------------------------------

TEST_F(ListToolsTest, PrintShowsAPreviewOfTheReportThatCanStillBeSavedAsPdf)
{
    loadFour();
    host::ModuleLoader loader{QCoreApplication::applicationDirPath()};
    auto saved = context().loadModule;
    loader.install();
    QTemporaryDir out;
    qputenv("EXP_REPORT_DIR", out.path().toLocal8Bit());
    int pages = 0;
    QString title;
    host.inspectForm = [&](QObject& form) {
        title = form.property("windowTitle").toString();
        auto* dlg = qobject_cast<QWidget*>(&form);
        auto* preview = form.findChild<QPrintPreviewWidget*>();
        ASSERT_NE(preview, nullptr);
        dlg->show();
        preview->updatePreview();
        settle();
        pages = preview->pageCount();
        shot(dlg, "visualizar-impressao.png");
    };
    host.formClick("btnSalvarPdf");
    press(Qt::Key_P, Qt::ControlModifier);
    host.inspectForm = nullptr;
    context().loadModule = saved;
    qunsetenv("EXP_REPORT_DIR");
    EXPECT_EQ(title, "Visualizar impressão - Lançamentos de Expedição");
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(QDir(out.path()).entryList({"*.pdf"}).size(), 1);
    ASSERT_FALSE(host.messageTexts().isEmpty());
    EXPECT_TRUE(host.messageTexts().last().startsWith("Relatório gravado em"));
}

} // namespace
