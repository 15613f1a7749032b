// The replication-error dialog: layout, the two widths and the answer.

#include "erroreplic.h"

#include "erroreplicdefs.h"

#include <host/controls.h>
#include <host/dbgrid.h>
#include <host/hostglobals.h>

#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include <algorithm>
#include <QVBoxLayout>

using host::Px;

TfrmErroReplic* frmErroReplic = nullptr;
bool boReplic = false;
bool* PboResult = nullptr;

namespace cli_exp01802 {
core::Variant oleDadosGrid;
} // namespace cli_exp01802

using namespace cli_exp01802;

namespace {

constexpr int kClienteAltura = 199;
constexpr int kTopoAltura = 62;
constexpr int kBotoesAltura = 42;

/// A yellow warning triangle with a black exclamation mark, 32 x 32, on a
/// transparent background.
QPixmap warningGlyph()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tri;
    tri.moveTo(16, 2);
    tri.lineTo(30.5, 29);
    tri.lineTo(1.5, 29);
    tri.closeSubpath();
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(255, 221, 0));
    p.drawPath(tri);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(14.5, 10, 3, 11), 1.2, 1.2);
    p.drawEllipse(QRectF(14.3, 23, 3.4, 3.4));
    return pm;
}

QFont msSansSerif8(bool bold = false)
{
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPointSize(8);
    f.setBold(bold);
    return f;
}

} // namespace

core::Variant enderecoResultado(bool* answer)
{
    return core::Variant(qint64(reinterpret_cast<quintptr>(answer)));
}

// --- the dialog ------------------------------------------------------------------

TfrmErroReplic::TfrmErroReplic(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmErroReplic"));
    setWindowTitle(QStringLiteral("Atenção"));
    setFont(msSansSerif8());
    setModal(true);
    msgPadrao.setLines(erroreplic::catalogueLines());

    cdsErroReplic = new core::ClientDataset(QStringLiteral("cdsErroReplic"), this);
    erroreplic::declareErroReplic(*cdsErroReplic);
    dtsDocReplic = new core::DataSource(QStringLiteral("dtsDocReplic"), this);
    dtsDocReplic->setDataSet(cdsErroReplic);

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);

    // Top strip: icon and explanation; nothing in it takes the focus.
    panTopo = new host::TPanel(QStringLiteral("panTopo"), this);
    panTopo->setFrameShape(QFrame::NoFrame);
    panTopo->setFixedHeight(Px(kTopoAltura));
    panTopo->setEnabled(false);
    imgConfirma = new QLabel(panTopo);
    imgConfirma->setObjectName(QStringLiteral("imgConfirma"));
    imgConfirma->setPixmap(warningGlyph());
    imgConfirma->setGeometry(Px(6), Px(17), Px(32), Px(32));
    memInforma = new QPlainTextEdit(panTopo);
    memInforma->setObjectName(QStringLiteral("memInforma"));
    memInforma->setGeometry(Px(55), Px(8), Px(339), Px(48));
    memInforma->setFrameShape(QFrame::NoFrame);
    memInforma->setReadOnly(true);
    memInforma->setFocusPolicy(Qt::NoFocus);
    memInforma->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memInforma->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    {
        // Button face, and the text kept black although the strip is disabled.
        QPalette pal = memInforma->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            pal.setColor(group, QPalette::Base, pal.color(QPalette::Active, QPalette::Button));
            pal.setColor(group, QPalette::Text, pal.color(QPalette::Active, QPalette::WindowText));
        }
        memInforma->setPalette(pal);
    }
    lay->addWidget(panTopo);

    // The replicated documents.
    dbgMensagem = new host::DBGrid(QStringLiteral("dbgMensagem"), this);
    dbgMensagem->setFrameShape(QFrame::NoFrame);
    dbgMensagem->setShowGrid(false);
    {
        QPalette pal = dbgMensagem->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        dbgMensagem->setPalette(pal);
    }
    dbgMensagem->horizontalHeader()->setFont(msSansSerif8(true));
    dbgMensagem->setDataSource(dtsDocReplic);
    dbgMensagem->addColumn(QStringLiteral("CDFILIAL"));
    dbgMensagem->addColumn(QStringLiteral("NRLANCTONF"), 105);
    dbgMensagem->addColumn(QStringLiteral("CDFILIALREPLIC"));
    dbgMensagem->addColumn(QStringLiteral("NRLANCTONFDEST"));
    dbgMensagem->addColumn(QStringLiteral("IDENTRSAIDOP"));
    dbgMensagem->addColumn(QStringLiteral("DESCOPER"), 180);
    dbgMensagem->addColumn(QStringLiteral("CDSERIE"));
    dbgMensagem->refreshColumns();
    lay->addWidget(dbgMensagem, 1);

    // Bottom strip: the two answers.
    panBotoes = new host::TPanel(QStringLiteral("panBotoes"), this);
    panBotoes->setFrameShape(QFrame::NoFrame);
    panBotoes->setFixedHeight(Px(kBotoesAltura));
    btnSim = new QPushButton(QStringLiteral("&OK"), panBotoes);
    btnSim->setObjectName(QStringLiteral("btnSim"));
    btnCancela = new QPushButton(QStringLiteral("&Cancela"), panBotoes);
    btnCancela->setObjectName(QStringLiteral("btnCancela"));
    for (QPushButton* b : {btnSim, btnCancela}) {
        b->setAutoDefault(false);
        b->resize(Px(75), Px(25));
    }
    btnSim->setDefault(true);
    connect(btnSim, &QPushButton::clicked, this, [this] { core::dispatch([this] { btnSimClick(); }); });
    connect(btnCancela, &QPushButton::clicked, this, [this] { core::dispatch([this] { btnCancelaClick(); }); });
    lay->addWidget(panBotoes);

    mostraOrigem(false);
}

TfrmErroReplic::~TfrmErroReplic()
{
    if (frmErroReplic == this)
        frmErroReplic = nullptr;
}

void TfrmErroReplic::mostraOrigem(bool on)
{
    const int largura = (on ? kLarguraOrigem : kLarguraSimples) - kBorda;
    setFixedSize(Px(largura), Px(kClienteAltura));
    btnSim->move(Px(on ? 220 : 170), Px(8));
    btnCancela->move(Px(on ? 308 : 258), Px(8));
    dbgMensagem->setColumnHidden(1, !on);
    ajustaTexto();
}

void TfrmErroReplic::ajustaTexto()
{
    // The explanation takes the width beside the icon and as many lines as
    // the font in use needs (the strip grows, the list gives way), so no
    // line is cut off whatever the font's size.
    const int left = Px(55);
    const int width = std::max(Px(339), this->width() - left - Px(8));
    const qreal margin = memInforma->document()->documentMargin();
    const QRect need = memInforma->fontMetrics().boundingRect(QRect(0, 0, width - int(2 * margin) - 2, 100000),
                                                              Qt::TextWordWrap, memInforma->toPlainText());
    const int height = std::max(Px(48), need.height() + int(2 * margin) + 2);
    memInforma->setGeometry(left, Px(8), width, height);
    panTopo->setFixedHeight(std::max(Px(kTopoAltura), height + Px(14)));
}

void TfrmErroReplic::FormCreate()
{
    cdsErroReplic->setData(oleDadosGrid);
}

void TfrmErroReplic::FormClose()
{
    // Every run builds a fresh instance.
    deleteLater();
}

void TfrmErroReplic::btnSimClick()
{
    boReplic = false;
    escolheu_ = true;
    close();
}

void TfrmErroReplic::btnCancelaClick()
{
    boReplic = true;
    escolheu_ = true;
    close();
}

void TfrmErroReplic::closeEvent(QCloseEvent* e)
{
    e->accept();
    done(QDialog::Rejected);
}

void TfrmErroReplic::done(int r)
{
    if (fechando_)
        return;
    fechando_ = true;
    // Closed by the close box, Alt+F4 or Escape: nobody confirmed, so the
    // answer is "&Cancela", never the previous run's answer.
    if (!escolheu_)
        boReplic = true;
    QDialog::done(r);
    core::dispatch([this] { FormClose(); });
}

// --- the exported entry -----------------------------------------------------------------

void ErroReplic(const core::Variant& varResultado, const core::Variant& oleDados, bool boMostraOrigem,
                const QString& stTipo)
{
    PboResult = reinterpret_cast<bool*>(quintptr(varResultado.toInt()));
    oleDadosGrid = oleDados;

    frmErroReplic = new TfrmErroReplic(nullptr);
    TfrmErroReplic* form = frmErroReplic;
    try {
        form->FormCreate();
    } catch (...) {
        delete form;
        throw;
    }
    // The catalogue breaks ERRO_PED with CR LF; the memo breaks lines at LF.
    QString texto =
        form->msgPadrao.Msg(stTipo == QLatin1String("P") ? QStringLiteral("ERRO_PED") : QStringLiteral("ERRO_ITEM"));
    form->memInforma->setPlainText(texto.replace(QLatin1String("\r\n"), QLatin1String("\n")));
    form->mostraOrigem(boMostraOrigem);

    {
        // However the run ends (a host that fails included), the form is
        // closed and released; a run nobody answered counts as "&Cancela".
        core::ScopeExit fecha([form] { form->done(QDialog::Rejected); });
        core::host().runModal(*form);
    }
    if (PboResult)
        *PboResult = boReplic;
}
