#include "frmfiltropadrao.h"

#include "glyphs.h"
#include "hostglobals.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QSettings>
#include <QVBoxLayout>

namespace host {

using glyphs::Glyph;

namespace {
QString& optionsPath()
{
    static QString p;
    return p;
}

std::unique_ptr<QSettings> openSettings()
{
    if (!optionsPath().isEmpty())
        return std::make_unique<QSettings>(optionsPath(), QSettings::IniFormat);
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Exp01800"),
                                       QStringLiteral("opcoes"));
}
} // namespace

TfrmFiltroPadrao::TfrmFiltroPadrao(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmFiltroPadrao"));
    setProperty("hostForm", true);
    setModal(true);
    setWindowTitle(QStringLiteral("Filtro"));

    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(Px(6), Px(6), Px(6), Px(6));
    root->setSpacing(Px(6));

    grbFiltroPadrao = new TGroupBox(QStringLiteral("grbFiltroPadrao"), QString(), this);
    root->addWidget(grbFiltroPadrao, 1);

    panMenu = new TPanel(QStringLiteral("panMenu"), this);
    panMenu->setFrameShape(QFrame::StyledPanel);
    panMenu->setFrameShadow(QFrame::Raised);
    panMenu->setFixedWidth(Px(58)); // room for the screen code under the buttons
    sideLayout_ = new QVBoxLayout(panMenu);
    sideLayout_->setContentsMargins(Px(4), Px(4), Px(4), Px(4));
    sideLayout_->setSpacing(Px(2));
    auto button = [&](const char* name, const QString& hint, Glyph g) {
        auto* b = new TSpeedButton(QString::fromLatin1(name), panMenu, hint);
        b->setIcon(glyphs::icon(g));
        b->setIconSize(QSize(Px(20), Px(20)));
        b->setFixedSize(Px(32), Px(30));
        return b;
    };
    sbtConfirma = button("sbtConfirma", QStringLiteral("Confirmar"), Glyph::Confirm);
    sbtAjuda = button("sbtAjuda", QStringLiteral("Ajuda"), Glyph::Help);
    btfSaveOpc = button("btfSaveOpc", QStringLiteral("Salvar opções"), Glyph::Save);
    btfLoadOpc = button("btfLoadOpc", QStringLiteral("Restaurar opções"), Glyph::Load);
    btfSaveOpc->setFixedSize(Px(32), Px(24));
    btfLoadOpc->setFixedSize(Px(32), Px(24));
    lblCodTela = new QLabel(panMenu);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    lblCodTela->setAlignment(Qt::AlignCenter);
    {
        QFont f = lblCodTela->font();
        f.setPointSizeF(f.pointSizeF() * 0.85);
        lblCodTela->setFont(f);
    }
    sideLayout_->addWidget(sbtConfirma);
    sideLayout_->addWidget(sbtAjuda);
    sideLayout_->addStretch(1);
    sideLayout_->addWidget(btfSaveOpc);
    sideLayout_->addWidget(btfLoadOpc);
    sideLayout_->addWidget(lblCodTela);
    root->addWidget(panMenu);

    sbtConfirma->onClick = [this] { sbtConfirmaClick(); };
    sbtAjuda->onClick = [this] {
        core::MensInfo(QStringLiteral("A ajuda deste filtro (%1, contexto %2) não está instalada.")
                           .arg(lblCodTela->text())
                           .arg(helpContext_));
    };
    // These two run their own dispatch: saving writes only after the whole
    // handler chain succeeded, restoring reads before it runs.
    disconnect(btfSaveOpc, &QToolButton::clicked, btfSaveOpc, nullptr);
    disconnect(btfLoadOpc, &QToolButton::clicked, btfLoadOpc, nullptr);
    connect(btfSaveOpc, &QToolButton::clicked, this, [this] { saveOptions(); });
    connect(btfLoadOpc, &QToolButton::clicked, this, [this] { loadOptions(); });
}

void TfrmFiltroPadrao::addSideButton(TSpeedButton* b)
{
    b->setParent(panMenu);
    b->setIconSize(QSize(Px(20), Px(20)));
    b->setFixedSize(Px(32), Px(30));
    sideLayout_->insertWidget(sideLayout_->indexOf(sbtAjuda), b);
}

void TfrmFiltroPadrao::setDesignSize(int width96, int height96)
{
    resize(Px(width96), Px(height96));
}

void TfrmFiltroPadrao::runFormCreate()
{
    FormCreate();
}

// --- options -------------------------------------------------------------------

QString TfrmFiltroPadrao::opcValue(const QString& name) const
{
    const QString prefix = name + u'=';
    for (const QString& line : Opcoes)
        if (line.startsWith(prefix, Qt::CaseInsensitive))
            return line.mid(prefix.size());
    return {};
}

void TfrmFiltroPadrao::setOpcValue(const QString& name, const QString& value)
{
    const QString prefix = name + u'=';
    for (QString& line : Opcoes)
        if (line.startsWith(prefix, Qt::CaseInsensitive)) {
            line = prefix + value;
            return;
        }
    Opcoes << prefix + value;
}

QString TfrmFiltroPadrao::optionsKey() const
{
    return operatorScreenKey(lblCodTela->text(), objectName());
}

void TfrmFiltroPadrao::setOptionsFile(const QString& path)
{
    optionsPath() = path;
}

QString TfrmFiltroPadrao::optionsFile()
{
    return optionsPath();
}

bool TfrmFiltroPadrao::saveOptions()
{
    return core::dispatch([this] {
        Opcoes.clear();
        btfSaveOpcClick();
        auto s = openSettings();
        s->setValue(optionsKey() + QStringLiteral("/lines"), Opcoes);
        s->sync();
        if (s->status() != QSettings::NoError)
            throw core::Error(QStringLiteral("Não foi possível gravar as opções do filtro."));
    });
}

bool TfrmFiltroPadrao::loadOptions()
{
    return core::dispatch([this] {
        auto s = openSettings();
        Opcoes = s->value(optionsKey() + QStringLiteral("/lines")).toStringList();
        btfLoadOpcClick();
    });
}

void TfrmFiltroPadrao::btfSaveOpcClick()
{
    // Every value control inside the filter box, by its name; radio buttons
    // only when checked (restoring checks them, which runs their handlers).
    for (QWidget* w : grbFiltroPadrao->findChildren<QWidget*>()) {
        const QString name = w->objectName();
        if (name.isEmpty())
            continue;
        if (auto* me = qobject_cast<TMaskEdit*>(w))
            setOpcValue(name, me->text());
        else if (auto* de = qobject_cast<TDateEditPlus*>(w))
            setOpcValue(name, de->text());
        else if (auto* le = qobject_cast<QLineEdit*>(w)) {
            if (!le->isReadOnly())
                setOpcValue(name, le->text());
        } else if (auto* rb = qobject_cast<QRadioButton*>(w)) {
            if (rb->isChecked())
                setOpcValue(name, QStringLiteral("S"));
        } else if (auto* cb = qobject_cast<QCheckBox*>(w))
            setOpcValue(name, cb->isChecked() ? QStringLiteral("S") : QStringLiteral("N"));
    }
}

void TfrmFiltroPadrao::btfLoadOpcClick()
{
    for (QWidget* w : grbFiltroPadrao->findChildren<QWidget*>()) {
        const QString name = w->objectName();
        if (name.isEmpty())
            continue;
        const QString prefix = name + u'=';
        bool present = false;
        for (const QString& line : Opcoes)
            if (line.startsWith(prefix, Qt::CaseInsensitive))
                present = true;
        if (!present)
            continue;
        const QString v = opcValue(name);
        if (auto* me = qobject_cast<TMaskEdit*>(w))
            me->setText(v);
        else if (auto* de = qobject_cast<TDateEditPlus*>(w))
            de->setText(v);
        else if (auto* le = qobject_cast<QLineEdit*>(w)) {
            if (!le->isReadOnly())
                le->setText(v);
        } else if (auto* rb = qobject_cast<QRadioButton*>(w)) {
            if (v == QLatin1String("S"))
                rb->setChecked(true);
        } else if (auto* cb = qobject_cast<QCheckBox*>(w))
            cb->setChecked(v == QLatin1String("S"));
    }
}

// --- lifecycle -------------------------------------------------------------------

void TfrmFiltroPadrao::FormCreate() { }
void TfrmFiltroPadrao::FormActivate() { }
void TfrmFiltroPadrao::FormClose() { }

void TfrmFiltroPadrao::sbtConfirmaClick()
{
    accept();
}

int TfrmFiltroPadrao::showModal()
{
    core::dispatch([this] { FormActivate(); });
    return exec();
}

void TfrmFiltroPadrao::closeEvent(QCloseEvent* e)
{
    // Closing hides the dialog (done() runs FormClose); it is never freed here.
    e->ignore();
    done(QDialog::Rejected);
}

void TfrmFiltroPadrao::done(int r)
{
    if (closing_)
        return;
    closing_ = true;
    core::dispatch([this] { FormClose(); });
    QDialog::done(r);
    closing_ = false;
}

} // namespace host
