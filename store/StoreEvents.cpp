#include "store/StoreEvents.h"

#include <QCoreApplication>
#include <QThread>

StoreEvents::StoreEvents()
{
    // Created on first use, which may be any thread; the signal belongs to the UI thread.
    if (QCoreApplication *app = QCoreApplication::instance())
        moveToThread(app->thread());
}

void StoreEvents::touch()
{
    StoreEvents *self = instance();
    if (self->m_pending.exchange(true))
        return;
    QMetaObject::invokeMethod(self, [self] { self->deliver(); }, Qt::QueuedConnection);
}

void StoreEvents::deliver()
{
    m_pending.store(false);
    Q_EMIT changed();
}
