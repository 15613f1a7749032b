#pragma once
// Helpers shared by the host tests: answering real modal widgets headless
// and building small datasets.

#include "client/clientdataset.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace hosttest {

/// Runs `act` on the first modal widget that shows up (polling every 20 ms,
/// for up to 5 s), then stops. Keep the returned timer alive while the
/// modal call runs.
inline QTimer* onModal(std::function<void(QWidget*)> act)
{
    auto* t = new QTimer;
    t->setInterval(20);
    auto tries = std::make_shared<int>(0);
    QObject::connect(t, &QTimer::timeout, [t, act, tries] {
        if (QWidget* m = QApplication::activeModalWidget()) {
            t->stop();
            act(m);
            t->deleteLater();
        } else if (++*tries > 250) {
            t->stop();
            t->deleteLater();
        }
    });
    t->start();
    return t;
}

/// A dataset with CODIGO (string 4) and NOME (string 30), opened with the
/// given rows "code|name".
inline void fillPeople(core::ClientDataset& ds, const QStringList& rows)
{
    if (ds.fieldCount() == 0) {
        ds.addString(QStringLiteral("CODIGO"), 4, QStringLiteral("Código"));
        ds.addString(QStringLiteral("NOME"), 30, QStringLiteral("Nome"));
    }
    core::DataPacket p(QList<core::FieldDef>{{QStringLiteral("CODIGO"), core::FieldType::String, 4},
                                             {QStringLiteral("NOME"), core::FieldType::String, 30}});
    for (const QString& r : rows) {
        const QStringList parts = r.split(u'|');
        p.appendRow({core::Variant(parts.value(0)), core::Variant(parts.value(1))});
    }
    ds.loadFromPacket(p);
}

} // namespace hosttest
