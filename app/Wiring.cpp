#include "app/Wiring.h"

#include "capture/Selvane.h"
#include "net/FileService.h"
#include "net/HistoryService.h"
#include "net/SyncHandOver.h"
#include "push/MqttManager.h"
#include "store/DBFetcher.h"

#include <QCoreApplication>

void Wiring::connectSyncChain()
{
    static bool connected = false;
    if (connected)
        return;
    connected = true;
    SyncHandOver *handOver = SyncHandOver::instance();
    MqttManager *mqtt = MqttManager::instance();
    QObject::connect(handOver, &SyncHandOver::brokerConnectRequested, mqtt, &MqttManager::connectBroker);
    QObject::connect(handOver, &SyncHandOver::brokerDisconnectRequested, mqtt, &MqttManager::disconnectBroker);
    QObject::connect(handOver, &SyncHandOver::fileArrived, mqtt, &MqttManager::fileArrived);
    QObject::connect(handOver, &SyncHandOver::fileTransferRequested, FileService::instance(),
                     &FileService::transferNext);
    // After every capture: push what the capture left pending.
    QObject::connect(Selvane::instance(), &Selvane::historyChanged, HistoryService::instance(),
                     &HistoryService::pushPending);
}

bool Wiring::startCore(QCoreApplication &app)
{
    const bool open = DBFetcher::instance()->isOpen();
    connectSyncChain();
    Selvane::instance()->start();
    QObject::connect(&app, &QCoreApplication::aboutToQuit, Selvane::instance(), &Selvane::stop);
    return open;
}
