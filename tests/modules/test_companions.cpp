// The print module (EXP03600) and the follow-up module (EXP00106), loaded
// from the build's module folder through the host's module loader.

#include "module/screenfixture.h"

#include <client/hostapi.h>
#include <host/moduleloader.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QTableWidget>

using namespace core;
using namespace testing_module;

namespace {

class CompanionTest : public ScreenFixture {
protected:
    void SetUp() override
    {
        ScreenFixture::SetUp();
        ASSERT_TRUE(out.isValid());
        qputenv("EXP_REPORT_DIR", out.path().toLocal8Bit());
        savedLoader = context().loadModule;
        loader.install();
        frm = open();
        ASSERT_NE(frm, nullptr);
    }
    void TearDown() override
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "frmDocumentoEXP00106")
                w->close();
        context().loadModule = savedLoader;
        qunsetenv("EXP_REPORT_DIR");
        ScreenFixture::TearDown();
    }

    /// The one PDF written to the report folder, empty when none.
    QByteArray writtenPdf() const
    {
        const QStringList files = QDir(out.path()).entryList({"*.pdf"}, QDir::Files);
        if (files.size() != 1)
            return {};
        QFile f(QDir(out.path()).filePath(files.first()));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static int pageCount(const QByteArray& pdf)
    {
        return int(QString::fromLatin1(pdf).count(QRegularExpression("/Type\\s*/Page[^s]")));
    }
    QWidget* documentWindow() const
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "frmDocumentoEXP00106" && w->isVisible())
                return w;
        return nullptr;
    }

    QTemporaryDir out;
    host::ModuleLoader loader{QCoreApplication::applicationDirPath()};
    std::function<void(const QString&, const Variant&)> savedLoader;
    TfrmConLancto* frm = nullptr;
};

std::vector<Entry> entries(int n)
{
    std::vector<Entry> v;
    for (int i = 1; i <= n; ++i) {
        Entry e;
        e.nr = QString::number(i).rightJustified(10, '0');
        v.push_back(e);
    }
    return v;
}

// --- EXP03600 --------------------------------------------------------------------------

TEST_F(CompanionTest, PrintingWritesAPdfOfTheEntryListAndSaysWhere)
{
    frm->cdsLanctoNF->loadFromPacket(lanctoPacket(entries(3)));
    host.formClick("btnSalvarPdf"); // in the print preview
    EXPECT_TRUE(dispatch([this] { frm->sbtImprimirClick(); }));
    const QByteArray pdf = writtenPdf();
    ASSERT_FALSE(pdf.isEmpty());
    EXPECT_TRUE(pdf.startsWith("%PDF"));
    EXPECT_EQ(pageCount(pdf), 1);
    ASSERT_EQ(host.messageTexts().size(), 1); // the preview is a form, not a message
    EXPECT_TRUE(host.messageTexts().at(0).startsWith("Relatório gravado em " + out.path()));
    EXPECT_TRUE(host.messageTexts().at(0).endsWith("(1 página)."));
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 0); // the cursor never moved
}

TEST_F(CompanionTest, WithoutADocumentsFolderTheReportGoesToTheUsersOwnFolderForTheirEyesOnly)
{
    // A home without a Documents folder, as on a fresh terminal-server account.
    const QByteArray home = qgetenv("HOME");
    qunsetenv("EXP_REPORT_DIR");
    qputenv("HOME", out.path().toLocal8Bit());
    frm->cdsLanctoNF->loadFromPacket(lanctoPacket(entries(2)));
    host.formClick("btnSalvarPdf"); // in the print preview
    const bool printed = dispatch([this] { frm->sbtImprimirClick(); });
    qputenv("HOME", home);
    ASSERT_TRUE(printed) << host.messageTexts().join(" / ").toStdString();

    ASSERT_EQ(host.documentsOpened().size(), 1); // opened in the desktop's viewer
    const QFileInfo pdf(host.documentsOpened().first());
    EXPECT_TRUE(pdf.absoluteFilePath().startsWith(out.path() + "/")) << pdf.absoluteFilePath().toStdString();
    const auto others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(pdf.permissions() & others, 0);
    EXPECT_EQ(QFileInfo(pdf.absolutePath()).permissions() & others, 0);
    EXPECT_TRUE(host.messageTexts().at(0).startsWith("Relatório gravado em " + pdf.absoluteFilePath()));
}

TEST_F(CompanionTest, ALongListIsPagedAndTheMessageCountsThePages)
{
    frm->cdsLanctoNF->loadFromPacket(lanctoPacket(entries(250)));
    frm->cdsLanctoNF->moveTo(7);
    host.formClick("btnSalvarPdf");
    EXPECT_TRUE(dispatch([this] { frm->sbtImprimirClick(); }));
    const QByteArray pdf = writtenPdf();
    const int pages = pageCount(pdf);
    EXPECT_GT(pages, 3);
    ASSERT_EQ(host.messageTexts().size(), 1);
    EXPECT_TRUE(host.messageTexts().at(0).endsWith(QString("(%1 páginas).").arg(pages)))
        << host.messageTexts().at(0).toStdString();
    EXPECT_EQ(frm->cdsLanctoNF->recNo(), 7);
}

TEST_F(CompanionTest, AnEmptyListOrAnUnknownParameterPrintsNothing)
{
    frm->cdsLanctoNF->loadFromPacket(lanctoPacket({}));
    EXPECT_FALSE(dispatch([this] { frm->sbtImprimirClick(); }));
    frm->cdsLanctoNF->loadFromPacket(lanctoPacket(entries(2)));
    EXPECT_FALSE(dispatch([] { LoadBPL("EXP03600", Variant("X")); }));
    EXPECT_FALSE(dispatch([] { LoadBPL("EXP03600", Variant()); }));
    EXPECT_TRUE(writtenPdf().isEmpty());
    const QStringList shown = host.messageTexts();
    ASSERT_EQ(shown.size(), 3);
    EXPECT_EQ(shown.at(0), "Não há lançamentos para imprimir.");
    EXPECT_TRUE(shown.at(1).contains("parâmetro \"X\" não reconhecido"));
}

TEST_F(CompanionTest, PrintingWithoutAnOpenScreenSaysSo)
{
    closeScreen();
    ASSERT_EQ(frmConLancto, nullptr);
    EXPECT_FALSE(dispatch([] { LoadBPL("EXP03600", Variant("M")); }));
    EXPECT_EQ(host.messageTexts(), QStringList{"Não há tela de lançamentos aberta para imprimir."});
}

// --- EXP00106 --------------------------------------------------------------------------

TEST_F(CompanionTest, TheFollowUpModuleListsTheRowsOfTheDatasetItIsGiven)
{
    auto* doc = new ClientDataset("cdsDocumento", frm);
    for (int i = 0; i < frm->cdsItensLanctoNF->fieldCount(); ++i) {
        const Field& f = frm->cdsItensLanctoNF->field(i);
        doc->addField(f.def(), f.displayLabel(), f.visible());
    }
    doc->loadFromPacket(itemsPacket("0000000042", 3));

    EXPECT_TRUE(dispatch([doc] { LoadBPL("EXP00106", Variant::array({Variant(qint64(quintptr(doc)))})); }));
    delete doc; // the window keeps its own copy

    QWidget* w = documentWindow();
    ASSERT_NE(w, nullptr);
    auto* table = w->findChild<QTableWidget*>("tblDocumento");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 3);
    int visible = 0;
    for (int i = 0; i < frm->cdsItensLanctoNF->fieldCount(); ++i)
        visible += frm->cdsItensLanctoNF->field(i).visible() ? 1 : 0;
    ASSERT_EQ(table->columnCount(), visible);
    QStringList titles;
    for (int c = 0; c < table->columnCount(); ++c)
        titles << table->horizontalHeaderItem(c)->text();
    const int nr = int(titles.indexOf("Nr. Item"));
    ASSERT_GE(nr, 0);
    EXPECT_EQ(table->item(2, nr)->text(), "0003");
    EXPECT_EQ(w->findChild<QLabel*>("lblResumo")->text(), "Itens do documento: 3");
}

TEST_F(CompanionTest, TheFollowUpModuleAlsoTakesAPacket)
{
    EXPECT_TRUE(dispatch([] { LoadBPL("EXP00106", Variant::array({Variant(stockPacket(2))})); }));
    QWidget* w = documentWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->findChild<QTableWidget*>("tblDocumento")->rowCount(), 2);
}

TEST_F(CompanionTest, TheFollowUpModuleRefusesWhatIsNotADocument)
{
    ClientDataset loose("cdsSemDono"); // owned by no window: not reachable
    const Variant bad[] = {Variant(),
                           Variant::array({}),
                           Variant::array({Variant("texto")}),
                           Variant::array({Variant(qint64(0))}),
                           Variant::array({Variant(qint64(12345678))}),
                           Variant::array({Variant(qint64(quintptr(&loose)))})};
    for (const Variant& p : bad)
        EXPECT_FALSE(dispatch([&p] { LoadBPL("EXP00106", p); }));
    EXPECT_EQ(documentWindow(), nullptr);
    EXPECT_EQ(host.messageTexts().size(), int(std::size(bad)));
    for (const QString& m : host.messageTexts())
        EXPECT_TRUE(m.startsWith("Acompanhamento do Cancelamento de Itens: ")) << m.toStdString();
}

} // namespace
