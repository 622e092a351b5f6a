#include "net/CRequestPushPost.h"

#include "store/HistoryQueries.h"

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
        History local = history();
        // Deleted while the push was in flight: saving would bring it back.
        if (!local.exists())
            return code;
        local.load();
        local.setFileId(server.file_id());
        local.setFileReady(server.file_ready());
        local.setHistoryId(server.history_id());
        local.setKeyHash(server.key_hash());
        local.setType(server.type());
        local.save();
        HistoryQueries::setFileReady(server.file_ready(), server.key_hash(), history().file_hash());
    }
    return code;
}
