#include "net/CRequestPushPost.h"

#include "store/HistoryQueries.h"
#include "store/SqlTransaction.h"

#include <QJsonObject>

CRequestPushPost::CRequestPushPost()
{
    setMethod(QStringLiteral("POST"));
}

void CRequestPushPost::buildBody()
{
    setBody(historyBody(true));
}

QVariant CRequestPushPost::parseResponse(const QByteArray &body)
{
    QJsonObject reply;
    if (!parseObject(body, &reply))
        return QVariant();
    verifyCipher(reply);
    if (!reply.contains(QLatin1String("code"))) {
        qWarning("push reply without code: nothing applied");
        return QVariant();
    }
    const int code = reply.value(QLatin1String("code")).toInt();
    if (code == 0 && reply.contains(QLatin1String("history"))) {
        const History server = History::fromServiceItem(reply.value(QLatin1String("history")).toObject().toVariantMap());
        // One commit for the reply; a row deleted while the push was in flight is not
        // brought back.
        SqlTransaction transaction;
        if (HistoryQueries::setServiceIds(history().file_hash(), history().category(), server.file_id(),
                                          server.history_id(), server.type()))
            HistoryQueries::setFileReady(server.file_ready(), server.key_hash(), history().file_hash());
        transaction.commit();
    }
    return code;
}
