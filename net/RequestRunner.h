#pragma once

#include "net/CBaseRequest.h"

#include <QVariant>

#include <utility>

// Starts a request and forgets it. The context owns the request until its reply:
// onReply(request, data) runs once, then the request is deleted. Nobody else
// deletes it, so a caller cannot free a request twice or leak one that never
// got its reply before the context went away.
namespace RequestRunner {

template <typename Request, typename OnReply>
void send(QObject *context, Request *request, OnReply onReply)
{
    request->setParent(context);
    QObject::connect(request, &CBaseRequest::responseData, context,
                     [onReply = std::move(onReply)](CBaseRequest *done, const QVariant &data) {
                         onReply(static_cast<Request *>(done), data);
                         done->deleteLater();
                     });
    request->start();
}

} // namespace RequestRunner
