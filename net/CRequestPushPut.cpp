#include "net/CRequestPushPut.h"

#include "store/HistoryQueries.h"

#include <QJsonObject>

namespace {
// The service does not know the entry.
constexpr int kUnknownEntry = -10;
} // namespace

CRequestPushPut::CRequestPushPut()
{
    setMethod(QStringLiteral("PUT"));
}

void CRequestPushPut::buildBody()
{
    setBody(historyBody(false));
}

QVariant CRequestPushPut::parseResponse(const QByteArray &body)
{
    QJsonObject reply;
    if (!parseObject(body, &reply))
        return QVariant();
    verifyCipher(reply);
    if (reply.value(QLatin1String("code")).toInt() == kUnknownEntry && !history().isEmpty())
        HistoryQueries::resetUpload(history().file_hash());
    return QVariant();
}
