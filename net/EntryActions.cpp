#include "net/EntryActions.h"

#include "app/Constants.h"
#include "app/Logging.h"
#include "app/clipUtils.h"
#include "net/CClearHistoryRequest.h"
#include "net/CPullRequest.h"
#include "net/CRequestGetFavourite.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestSetFavourite.h"
#include "net/HistoryService.h"
#include "net/RequestRunner.h"
#include "store/HistoryQueries.h"
#include "store/HistoryStore.h"

using namespace Zorvel;

namespace {

void deleteLocally(const History &record)
{
    HistoryStore::deleteEntry(record.file_hash(), record.key_hash());
}

} // namespace

void EntryActions::remove(const History &record)
{
    if (!clipUtils::hasUserToken()) {
        deleteLocally(record);
        return;
    }
    History stored = record;
    if (!stored.exists())
        return;
    stored.load();
    // Never uploaded: nothing to delete on the service.
    if (stored.history_id() <= 0) {
        deleteLocally(stored);
        return;
    }
    auto *request = new CRequestPushDel;
    request->setHistory(stored);
    RequestRunner::send(this, request, [](CRequestPushDel *done, const QVariant &var) {
        const QVariantMap reply = var.toMap();
        if (done->replyOk() && !var.isNull() && reply.contains(QStringLiteral("code"))
            && reply.value(QStringLiteral("code")).toInt() == 0)
            deleteLocally(done->history());
    });
}

void EntryActions::toggleFavourite(History record)
{
    if (record.exists())
        record.load();
    const qint64 now = clipUtils::currentTime();
    const bool signedIn = clipUtils::hasUserToken();
    // Only an entry the service holds is sent; a confidential one never leaves the
    // machine, and one not uploaded yet goes with its mark through the favourites chain.
    if (signedIn && record.history_id() > 0 && !record.secert()) {
        toggleFavouriteSignedIn(record, now);
        return;
    }
    if (record.favourite() <= 0) {
        record.setCategory(QLatin1String(Category::Favourite));
        record.save();
        HistoryQueries::setFavourite(now, record.file_hash());
        if (signedIn && !record.secert())
            record.markChanged();
    } else {
        HistoryStore::removeFromCategory(record.file_hash(), QLatin1String(Category::Favourite));
        HistoryQueries::setFavourite(-now, record.file_hash());
    }
}

void EntryActions::unlockSecret(const QString &fileHash)
{
    HistoryQueries::unsetSecret(fileHash);
    HistoryService::instance()->pushPending();
}

// Marks or unmarks the favourite and tells the service; the reply stores the mark.
void EntryActions::toggleFavouriteSignedIn(History &record, qint64 now)
{
    if (record.favourite() <= 0) {
        record.setFavourite(now);
        const QString category = record.category();
        record.setCategory(QLatin1String(Category::Favourite));
        record.save();
        record.markChanged();
        record.setCategory(category);
    } else {
        record.setFavourite(-now);
    }
    auto *request = new CRequestSetFavourite;
    request->setHistory(record);
    RequestRunner::send(this, request, [](CRequestSetFavourite *, const QVariant &) {});
}

// Signed in, the service clears first and the local copy follows its confirmation,
// so the two never disagree about what is gone.
void EntryActions::clearHistory()
{
    if (m_clearing)
        return;
    if (!clipUtils::hasUserToken()) {
        finishClear(true, HistoryStore::clearNonFavourites());
        return;
    }
    m_clearing = true;
    RequestRunner::send(this, new CClearHistoryRequest, [this](CClearHistoryRequest *done, const QVariant &var) {
        // The request yields no value unless the service answered with code 0.
        const bool ok = done->replyOk() && var.isValid();
        if (ok)
            HistoryStore::clearNonFavourites();
        else
            qCWarning(lcNet, "clear history: the service did not confirm (HTTP %d); nothing removed here",
                      done->httpStatus());
        finishClear(ok, var.toMap().value(QStringLiteral("count")).toLongLong());
    });
}

void EntryActions::finishClear(bool ok, qint64 count)
{
    m_clearing = false;
    Q_EMIT historyCleared(ok, count);
}

void EntryActions::pull()
{
    if (!clipUtils::hasUserToken() || m_pulling)
        return;
    m_pulling = true;
    RequestRunner::send(this, new CPullRequest, [this](CPullRequest *, const QVariant &) { m_pulling = false; });
}

// The request merges the favourites it downloads.
void EntryActions::syncFavourites()
{
    if (!clipUtils::hasUserToken() || m_syncingFavourites)
        return;
    m_syncingFavourites = true;
    RequestRunner::send(this, new CRequestGetFavourite,
                        [this](CRequestGetFavourite *, const QVariant &) { m_syncingFavourites = false; });
}
