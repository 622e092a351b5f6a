// Messages from the user's topic as the MQTT manager handles them. No broker is
// involved: the manager's client is created but never connected, and without a
// signed-in user the requests a message starts finish at once without traffic.
#include "FuzzApp.h"

#include "app/Constants.h"
#include "push/MqttManager.h"
#include "store/History.h"

#include <QEvent>
#include <QSqlQuery>
#include <QVariant>

namespace {

void keepLocalEntries()
{
    QSqlQuery count(QStringLiteral("select count(*) from History"));
    if (count.next() && count.value(0).toInt() >= 3)
        return;
    const char *hashes[] = {"5d41402abc4b2a76b9719d911017c592", "7d793037a0760186574b0282f2f435e7",
                            "0cc175b9c0f1b6a831c399e269772661"};
    for (int i = 0; i < 3; ++i) {
        History record;
        record.setCategory(QLatin1String(i == 2 ? Zorvel::Category::Favourite : Zorvel::Category::History));
        record.setFileHash(QLatin1String(hashes[i]));
        record.setContent(QStringLiteral("text %1").arg(i));
        record.setType(QStringLiteral("text_txt"));
        record.setTimeStamp(1700000000 + i);
        record.save();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzApp::init();
    MqttManager::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    keepLocalEntries();
    MqttManager::instance()->slotHandleMesage(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FuzzApp::checkHashes();
    FuzzApp::checkNothingOutside();
    FuzzApp::trim();
    return 0;
}
