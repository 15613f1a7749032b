#include "controlhelpers.h"

#include "client/hostapi.h"

#include <QWidget>

namespace host {

void SetChildEnabled(QWidget* container, bool enabled)
{
    if (!container)
        return;
    for (QWidget* w : container->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!w->isWindow())
            w->setEnabled(enabled);
}

void runHandler(const Handler& h)
{
    if (h)
        core::dispatch(h);
}

} // namespace host
