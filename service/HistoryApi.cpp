#include "HistoryApi.h"

#include "ApiRequest.h"
#include "Codec.h"
#include "EntryStore.h"
#include "KeyStore.h"
#include "Log.h"
#include "Notifier.h"
#include "ObjectStore.h"
#include "ServiceConstants.h"

#include <httplib.h>

namespace ZorvelService {

namespace {

using nlohmann::json;

// The pushed entry from {"history": item}; on failure the reply is set.
std::optional<Entry> pushedEntry(ApiRequest &api, bool requireContent)
{
    const auto body = api.jsonBody();
    if (!body)
        return std::nullopt;
    const auto item = body->find("history");
    if (item == body->end()) {
        api.fail(Code::BadRequest, "\"history\" is missing");
        return std::nullopt;
    }
    std::string reason;
    auto entry = Entry::fromItem(*item, requireContent, &reason);
    if (!entry)
        api.fail(Code::BadRequest, reason);
    return entry;
}

} // namespace

HistoryApi::HistoryApi(ApiContext &context)
    : m_context(context)
{
}

void HistoryApi::registerRoutes(httplib::Server &server)
{
    ApiContext &ctx = m_context;

    server.Get("/api/pull/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto since = Codec::parseInt(api.param("last_request_timestamp"));
        const EntryStore::Changes changes = ctx.entries.changesSince(*user, since.value_or(0));
        json histories = json::array();
        for (const Entry &e : changes.items)
            histories.push_back(e.toJson());
        json actions = json::array();
        for (const std::int64_t id : changes.deleted)
            actions.push_back({{"action", "del"}, {"history_id", id}});
        json reply = {{"code", Code::Ok},
                      {"request_timestamp", changes.requestTimestamp},
                      {"histories", std::move(histories)},
                      {"action", std::move(actions)},
                      {"more", changes.more},
                      {"cipher", ctx.keys.summary(*user)}};
        if (changes.clearTime)
            reply["clear_all_ts"] = *changes.clearTime;
        api.reply(reply);
    });

    server.Post("/api/push/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto item = pushedEntry(api, true);
        if (!item)
            return;
        const json cipher = ctx.keys.summary(*user);
        const std::string keyHash = cipher["key_hash"];
        if (!item->keyHash.empty() && !keyHash.empty() && item->keyHash != keyHash) {
            return api.reply({{"code", Code::StaleKey},
                              {"msg", "the entry is encrypted under a key that is no longer the user's"},
                              {"cipher", cipher}});
        }
        const EntryStore::PostResult result = ctx.entries.post(*user, *item);
        if (result.staleKey)
            return api.reply({{"code", Code::StaleKey},
                              {"msg", "the entry is encrypted under a key that is no longer the user's"},
                              {"cipher", ctx.keys.summary(*user)}});
        if (result.overQuota)
            return api.fail(kQuotaStatus, "the account's storage quota is used up", kQuotaStatus);
        if (result.discardedFileId)
            ctx.objects.remove({*user, result.discardedFileId});
        api.reply({{"code", Code::Ok}, {"history", result.entry.toJson()}, {"cipher", cipher}});
    });

    server.Put("/api/push/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto item = pushedEntry(api, false);
        if (!item)
            return;
        const json cipher = ctx.keys.summary(*user);
        const auto updated = ctx.entries.update(*user, *item);
        if (!updated)
            return api.reply({{"code", Code::UnknownEntry}, {"msg", "no such entry"}, {"cipher", cipher}});
        api.reply({{"code", Code::Ok}, {"history", updated->toJson()}, {"cipher", cipher}});
    });

    server.Delete("/api/push/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto historyId = Codec::parseInt(api.param("history_id"));
        if (!historyId || *historyId <= 0)
            return api.fail(Code::BadRequest, "\"history_id\" must be a positive number");
        const auto removed = ctx.entries.remove(*user, *historyId);
        // Deleting what is already gone succeeds: the caller's goal is reached either way.
        if (removed) {
            ctx.objects.remove({*user, removed->fileId});
            ctx.notifier.publish(*user, "history_delete",
                                 {{"file_hash", removed->fileHash},
                                  {"key_hash", removed->keyHash},
                                  {"history_id", std::to_string(removed->historyId)},
                                  {"device_token", api.deviceToken()}});
        }
        api.reply({{"code", Code::Ok}, {"deleted", removed ? 1 : 0}});
    });

    server.Get("/api/push/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto historyId = Codec::parseInt(api.param("history_id"));
        const std::string fileHash = api.param("file_hash");
        std::optional<Entry> entry;
        if (historyId && *historyId > 0) {
            entry = ctx.entries.findById(*user, *historyId);
        } else if (Codec::isFileHash(fileHash)) {
            entry = ctx.entries.findByHash(*user, fileHash);
        } else {
            return api.fail(Code::BadRequest, "a positive \"history_id\" or a valid \"file_hash\" is needed");
        }
        const json cipher = ctx.keys.summary(*user);
        if (!entry)
            return api.reply({{"code", Code::UnknownEntry}, {"msg", "no such entry"}, {"cipher", cipher}});
        api.reply({{"code", Code::Ok}, {"history", entry->toJson()}, {"cipher", cipher}});
    });

    server.Get("/api/clear_history/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        std::int64_t clearTime = 0;
        const std::vector<Entry> removed = ctx.entries.clearNonFavourites(*user, &clearTime);
        for (const Entry &e : removed)
            ctx.objects.remove({*user, e.fileId});
        ctx.notifier.publish(*user, "history_clear", {{"timestamp", clearTime}, {"device_token", api.deviceToken()}});
        Log::info("cleared " + std::to_string(removed.size()) + " entries of user " + std::to_string(*user));
        api.reply({{"code", Code::Ok}, {"count", removed.size()}});
    });
}

} // namespace ZorvelService
