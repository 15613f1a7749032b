// PKG_SAMPLE: a small module the shell tests open by code. One screen on the
// base screen: a branch panel with a lookup, a grid of demo rows with a
// drawn check column, an item page, and the navigator.

#include "host/frmpadrao.h"
#include "host/hostglobals.h"

#include "client/hostapi.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>

using namespace host;

namespace {

QString g_lastParam;
int g_loads = 0;

class TfrmSample : public TfrmPadrao {
public:
    explicit TfrmSample(QWidget* owner) : TfrmPadrao(owner)
    {
        setObjectName(QStringLiteral("frmSample"));
        setWindowTitle(QStringLiteral("Consulta de Exemplo"));
        setHelpContext(1000);
        lblCodTela->setText(QStringLiteral("SAMPLE"));

        cdsDemo = new core::ClientDataset(QStringLiteral("cdsDemo"), this);
        cdsDemo->addString(QStringLiteral("IDCHECK"), 1, QStringLiteral("4"), false, true);
        cdsDemo->addString(QStringLiteral("CDFILIAL"), 4, QStringLiteral("Filial"));
        cdsDemo->addDateTime(QStringLiteral("DTENTRSAID"), QStringLiteral("Data Lancto."));
        cdsDemo->addString(QStringLiteral("NRLANCTONF"), 10, QStringLiteral("Lancto. NF"));
        cdsDemo->addString(QStringLiteral("NMRAZSOCCLIE"), 50, QStringLiteral("Cliente/Filial Destino"));
        cdsDemo->addFloat(QStringLiteral("VRTOTAL"), QStringLiteral("Vr. Total"), true, QStringLiteral("#,##0.00"));
        cdsDemo->addString(QStringLiteral("IDSTATUS"), 1, QStringLiteral("Status"));
        dtsPadrao->setDataSet(cdsDemo);

        panFiltro = new TPanel(QStringLiteral("panFiltro"), this);
        panFiltro->setFixedHeight(Px(35));
        auto* lay = new QHBoxLayout(panFiltro);
        lay->setContentsMargins(Px(8), Px(4), Px(8), Px(4));
        auto* lbl = new QLabel(QStringLiteral("Filial"), panFiltro);
        QFont bold = lbl->font();
        bold.setBold(true);
        lbl->setFont(bold);
        medFilial = new TMaskEdit(QStringLiteral("medFilial"), panFiltro, QStringLiteral("9999;0; "));
        medFilial->setInfoBackground(true);
        medFilial->setFixedWidth(Px(48));
        btpPesqFilial = new TBtnPesquisa(QStringLiteral("btpPesqFilial"), panFiltro);
        edtFilial = new TEdit(QStringLiteral("edtFilial"), panFiltro);
        edtFilial->setEnabled(false);
        edtFilial->setFixedWidth(Px(470));
        lay->addWidget(lbl);
        lay->addWidget(medFilial);
        lay->addWidget(btpPesqFilial);
        lay->addWidget(edtFilial);
        lay->addStretch(1);
        insertBelowMenu(panFiltro);

        tshFolhaDados->setCaption(QStringLiteral("Lançamentos"));
        tshFormulario->setCaption(QStringLiteral("Itens"));
        dbgPadrao->setDataSource(dtsPadrao);
        QFont sorts(QStringLiteral("Monotype Sorts"));
        sorts.setPointSize(8);
        dbgPadrao->addColumn(QStringLiteral("IDCHECK"), 20, {}, Qt::AlignCenter).titleFont = sorts;
        dbgPadrao->addColumn(QStringLiteral("CDFILIAL"), 45);
        dbgPadrao->addColumn(QStringLiteral("DTENTRSAID"), 80);
        dbgPadrao->addColumn(QStringLiteral("NRLANCTONF"), 85);
        dbgPadrao->addColumn(QStringLiteral("NMRAZSOCCLIE"), 260);
        dbgPadrao->addColumn(QStringLiteral("VRTOTAL"), 90, {}, Qt::AlignRight | Qt::AlignVCenter);
        dbgPadrao->addColumn(QStringLiteral("IDSTATUS"), 65);
        dbgPadrao->refreshColumns();
        dbgPadrao->onDrawColumnCell = [this](QPainter& canvas, const QRect& rect, int, const Column& col,
                                             GridDrawStates) { drawCheck(canvas, rect, col); };
        dbgPadrao->onCellClick = [this](const Column& col) { toggle(col); };
        dbtNome->setDataSource(dtsPadrao, QStringLiteral("NRLANCTONF"));
        dbnPadrao->setDataSource(dtsPadrao);
    }

    void FormActivate() override
    {
        TfrmPadrao::FormActivate();
        if (loaded_)
            return;
        loaded_ = true;
        medFilial->setText(core::FiliProc());
        edtFilial->setText(core::NomeFiliProc().isEmpty() ? QStringLiteral("MATRIZ") : core::NomeFiliProc());
        core::ActiveShowAvi(this, 6);
        core::ScopeExit stop([this] { core::DeactiveShowAvi(this); });
        static const char* const names[] = {"Distribuidora Alvorada Ltda", "Mercado Bom Preço", "Comercial Serra Azul",
                                            "Atacado Três Irmãos",         "Farmácia São João", "Padaria Pão Quente"};
        core::DataPacket p(
            QList<core::FieldDef>{{QStringLiteral("IDCHECK"), core::FieldType::String, 1, true, false},
                                  {QStringLiteral("CDFILIAL"), core::FieldType::String, 4, false, false},
                                  {QStringLiteral("DTENTRSAID"), core::FieldType::DateTime, 0, false, false},
                                  {QStringLiteral("NRLANCTONF"), core::FieldType::String, 10, false, false},
                                  {QStringLiteral("NMRAZSOCCLIE"), core::FieldType::String, 50, false, false},
                                  {QStringLiteral("VRTOTAL"), core::FieldType::Float, 0, false, false},
                                  {QStringLiteral("IDSTATUS"), core::FieldType::String, 1, false, false}});
        const double base = core::Date::today().days;
        for (int i = 0; i < 40; ++i)
            p.appendRow({core::Variant(QString(i % 4 == 1 ? "S" : "N")), core::Variant(core::FiliProc()),
                         core::Variant(core::Date{base - i / 6}),
                         core::Variant(QStringLiteral("%1").arg(1000 + i, 10, 10, QChar(u'0'))),
                         core::Variant(QString::fromUtf8(names[i % 6])), core::Variant(1234.5 * (i + 1) / 7.0),
                         core::Variant(QString(i % 5 == 3 ? "E" : "P"))});
        cdsDemo->loadFromPacket(p);
    }

    void drawCheck(QPainter& canvas, const QRect& rect, const Column& col)
    {
        if (col.fieldName != QLatin1String("IDCHECK"))
            return;
        canvas.fillRect(rect, canvas.brush());
        const QString v = cdsDemo->fieldByName(QStringLiteral("IDCHECK")).asString();
        const QRect box(rect.x() + (rect.width() - 11) / 2, rect.y() + (rect.height() - 11) / 2, 11, 11);
        canvas.setPen(Qt::black);
        canvas.setBrush(Qt::white);
        canvas.drawRect(box);
        if (v == QLatin1String("S")) {
            canvas.setPen(QPen(Qt::black, 2));
            canvas.drawPolyline(
                QPolygon({box.topLeft() + QPoint(2, 5), box.topLeft() + QPoint(4, 8), box.topLeft() + QPoint(9, 2)}));
        }
    }

    void toggle(const Column& col)
    {
        if (col.fieldName != QLatin1String("IDCHECK") || cdsDemo->isEmpty())
            return;
        core::Field& f = cdsDemo->fieldByName(QStringLiteral("IDCHECK"));
        cdsDemo->edit();
        f.setAsString(f.asString() == QLatin1String("S") ? QStringLiteral("N") : QStringLiteral("S"));
        cdsDemo->post();
    }

    core::ClientDataset* cdsDemo;
    TPanel* panFiltro;
    TMaskEdit* medFilial;
    TBtnPesquisa* btpPesqFilial;
    TEdit* edtFilial;
    bool loaded_ = false;
};

QPointer<TfrmSample> g_form;

} // namespace

extern "C" Q_DECL_EXPORT void IniProc()
{
    if (!g_form)
        g_form = TfrmPadrao::create<TfrmSample>(mainWindow());
    g_form->show();
    g_form->setWindowStateNormal();
}

extern "C" Q_DECL_EXPORT void LoadProc(const core::Variant* params)
{
    ++g_loads;
    g_lastParam = params ? params->toString() : QString();
}

/// For the tests: the last parameter LoadProc received and how many times it ran.
extern "C" Q_DECL_EXPORT const char16_t* SampleLastParam()
{
    return reinterpret_cast<const char16_t*>(g_lastParam.utf16());
}

extern "C" Q_DECL_EXPORT int SampleLoads()
{
    return g_loads;
}
