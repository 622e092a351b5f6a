// Messages from the user's topic as the MQTT manager handles them. No broker is
// involved: the manager's client is created but never connected, and without a
// signed-in user the requests a message starts finish at once without traffic.
#include "FuzzApp.h"

#include "push/MqttManager.h"

#include <QEvent>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzApp::init();
    MqttManager::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzApp::keepRows(false);
    MqttManager::instance()->slotHandleMesage(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FuzzApp::checkHashes();
    FuzzApp::checkNothingOutside();
    FuzzApp::trim();
    return 0;
}
