// Reply bodies from the service, as the pull and push requests parse and apply them
// to the store. The first byte picks the request; the rest is the body. Whatever
// arrives, the parsers must not crash and the store must keep only sound rows.
#include "FuzzApp.h"

#include "net/CPullRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestPushGet.h"
#include "net/CRequestPushPost.h"
#include "net/CRequestPushPut.h"

#include <QVariant>

#include <memory>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzApp::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray body(reinterpret_cast<const char *>(data + 1), int(size - 1));
    std::unique_ptr<CBaseRequest> request;
    switch (data[0] % 5) {
    case 0: request.reset(new CPullRequest); break;
    case 1: request.reset(new CRequestPushGet); break;
    case 2: request.reset(new CRequestPushPost); break;
    case 3: request.reset(new CRequestPushPut); break;
    default: request.reset(new CRequestPushDel); break;
    }
    request->parseResponse(body);
    FuzzApp::checkHashes();
    FuzzApp::trim();
    return 0;
}
