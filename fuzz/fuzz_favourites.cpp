// Favourites download replies merged into the store: entries deleted or unmarked
// elsewhere and the service's own favourites. A few local favourites are kept in the
// store so the merge has rows to match, unmark and update.
#include "FuzzApp.h"

#include "net/CRequestGetFavourite.h"

#include <QEvent>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzApp::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzApp::keepRows(true);
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
