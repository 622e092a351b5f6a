#include "FavouriteApi.h"

#include "ApiRequest.h"
#include "Codec.h"
#include "EntryStore.h"
#include "Json.h"
#include "KeyStore.h"
#include "ServiceConstants.h"

#include <httplib.h>

#include <cstdlib>

namespace ZorvelService {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxMarks = 10000;

// {"<history id>": {"favourite": mark}, ...}; nullopt for anything malformed.
std::optional<std::map<std::int64_t, std::int64_t>> readMarks(const json &body)
{
    std::map<std::int64_t, std::int64_t> marks;
    const auto favourites = body.find("favourites");
    if (favourites == body.end() || favourites->is_null())
        return marks;
    if (!favourites->is_object() || favourites->size() > kMaxMarks)
        return std::nullopt;
    for (const auto &[key, value] : favourites->items()) {
        const auto historyId = Codec::parseInt(key);
        if (!historyId || *historyId <= 0 || !value.is_object())
            return std::nullopt;
        bool ok = true;
        const std::int64_t mark = Json::integer(value, "favourite", ok);
        if (!ok || !Entry::validMark(mark))
            return std::nullopt;
        marks[*historyId] = mark;
    }
    return marks;
}

} // namespace

FavouriteApi::FavouriteApi(ApiContext &context)
    : m_context(context)
{
}

void FavouriteApi::registerRoutes(httplib::Server &server)
{
    ApiContext &ctx = m_context;

    server.Post("/api/get_favourite/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto body = api.jsonBody();
        if (!body)
            return;
        const auto marks = readMarks(*body);
        if (!marks)
            return api.fail(Code::BadRequest, "\"favourites\" must map history ids to {\"favourite\": mark}");
        const EntryStore::FavouriteMerge merge = ctx.entries.mergeFavourites(*user, *marks);
        json deleted = json::array();
        for (const std::int64_t id : merge.deleted)
            deleted.push_back({{"history_id", id}});
        json unmarked = json::array();
        for (const auto &[id, mark] : merge.unmarked)
            unmarked.push_back({{"history_id", id}, {"favourite", mark}});
        json histories = json::array();
        for (const Entry &e : merge.favourites)
            histories.push_back(e.toJson());
        api.reply({{"code", Code::Ok},
                   {"delfavourites", std::move(deleted)},
                   {"unfavourites", std::move(unmarked)},
                   {"histories", std::move(histories)},
                   {"cipher", ctx.keys.summary(*user)}});
    });

    server.Post("/api/set_favourite/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto body = api.jsonBody();
        if (!body)
            return;
        const auto item = body->find("history");
        if (item == body->end())
            return api.fail(Code::BadRequest, "\"history\" is missing");
        std::string reason;
        const auto entry = Entry::fromItem(*item, false, &reason);
        if (!entry)
            return api.fail(Code::BadRequest, reason);
        const json cipher = ctx.keys.summary(*user);
        const auto stored = ctx.entries.setFavourite(*user, *entry);
        // -4 tells the device to drop its copy: only for an entry deleted here, never
        // for one the service has not received yet.
        if (!stored && ctx.entries.wasDeleted(*user, entry->fileHash))
            return api.reply(
                {{"code", Code::FavouriteGone}, {"msg", "the entry was deleted on the service"}, {"cipher", cipher}});
        if (!stored)
            return api.reply({{"code", Code::UnknownEntry}, {"msg", "no such entry"}, {"cipher", cipher}});
        api.reply({{"code", Code::Ok}, {"history", stored->toJson()}, {"cipher", cipher}});
    });
}

} // namespace ZorvelService
