// Favourites download replies merged into the store: entries deleted or unmarked
// elsewhere and the service's own favourites. A few local favourites are kept in the
// store so the merge has rows to match, unmark and update.
#include "FuzzApp.h"

#include "app/Constants.h"
#include "net/CRequestGetFavourite.h"
#include "store/History.h"

#include <QEvent>
#include <QSqlQuery>
#include <QVariant>

namespace {

void keepLocalFavourites()
{
    QSqlQuery count(QStringLiteral("select count(*) from History where category = 'favourite'"));
    if (count.next() && count.value(0).toInt() >= 3)
        return;
    const char *hashes[] = {"5d41402abc4b2a76b9719d911017c592", "7d793037a0760186574b0282f2f435e7",
                            "0cc175b9c0f1b6a831c399e269772661"};
    for (int i = 0; i < 3; ++i) {
        History record;
        record.setCategory(QLatin1String(Zorvel::Category::Favourite));
        record.setFileHash(QLatin1String(hashes[i]));
        record.setContent(QStringLiteral("text %1").arg(i));
        record.setType(QStringLiteral("text_txt"));
        record.setHistoryId(21 + i);
        record.setFavourite(i == 2 ? -5 : 5);
        record.setTimeStamp(1700000000 + i);
        record.save();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzApp::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    keepLocalFavourites();
    {
        CRequestGetFavourite request;
        request.parseResponse(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    }
    // Requests the merge hands on finish at once without a signed-in user.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    FuzzApp::checkHashes();
    FuzzApp::checkNothingOutside();
    FuzzApp::trim();
    return 0;
}
