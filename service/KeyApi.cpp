#include "KeyApi.h"

#include "Accounts.h"
#include "ApiRequest.h"
#include "Codec.h"
#include "EntryStore.h"
#include "Json.h"
#include "KeyStore.h"
#include "Log.h"
#include "ObjectStore.h"
#include "ServerKeys.h"
#include "ServiceConstants.h"

#include <httplib.h>

namespace ZorvelService {

namespace {

using nlohmann::json;

// The "key_dict" member of the body; on failure the reply is set.
std::optional<KeyPair> bodyKeyPair(ApiRequest &api, const json &body)
{
    const auto dict = body.find("key_dict");
    if (dict == body.end()) {
        api.fail(Code::BadRequest, "\"key_dict\" is missing");
        return std::nullopt;
    }
    std::string reason;
    auto pair = KeyPair::fromDict(*dict, &reason);
    if (!pair)
        api.fail(Code::BadRequest, reason);
    return pair;
}

} // namespace

KeyApi::KeyApi(ApiContext &context)
    : m_context(context)
{
}

void KeyApi::registerRoutes(httplib::Server &server)
{
    ApiContext &ctx = m_context;

    server.Get("/api/key/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto stored = ctx.keys.get(*user);
        if (!stored)
            return api.fail(Code::NoKey, "no key pair stored yet");
        api.reply({{"code", Code::Ok}, {"cipher", stored->dict}});
    });

    server.Put("/api/key/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto body = api.jsonBody();
        if (!body)
            return;
        const auto pair = bodyKeyPair(api, *body);
        if (!pair)
            return;
        // Another device activated first: replacing its key would orphan what is
        // encrypted under it. The client fetches that key instead, or resets.
        const auto stored = ctx.keys.get(*user);
        if (stored && stored->keyHash != pair->keyHash)
            return api.fail(Code::KeyConflict, "the user already has another key pair");
        if (!ctx.keys.put(*user, *pair))
            return api.fail(Code::KeyConflict, "the user already has another key pair");
        Log::info("stored the key pair of user " + std::to_string(*user));
        api.reply({{"code", Code::Ok}});
    });

    server.Post("/api/key/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto body = api.jsonBody();
        if (!body)
            return;
        const auto stored = ctx.keys.get(*user);
        if (!stored)
            return api.fail(Code::NoKey, "no key pair stored yet");
        bool ok = true;
        const std::string lastPinHash = Json::text(*body, "last_pwd_hash", ok);
        if (!ok || !stored->pinMatches(lastPinHash))
            return api.fail(Code::WrongPin, "the current PIN does not match");
        const auto pair = bodyKeyPair(api, *body);
        if (!pair)
            return;
        // A PIN change wraps the same key anew; a different key needs revert_key/.
        if (pair->keyHash != stored->keyHash)
            return api.fail(Code::KeyConflict, "a PIN change must keep the key");
        if (!ctx.keys.put(*user, *pair))
            return api.fail(Code::KeyConflict, "a PIN change must keep the key");
        Log::info("new PIN wrapping for user " + std::to_string(*user));
        api.reply({{"code", Code::Ok}});
    });

    server.Post("/api/revert_key/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto user = api.authenticate(ctx.accounts);
        if (!user)
            return;
        const auto body = api.jsonBody();
        if (!body)
            return;
        bool ok = true;
        const std::string sealed = Json::text(*body, "pwd_hash_cipher", ok);
        const auto box = ok ? Codec::fromBase64(sealed) : std::nullopt;
        const auto passwordMd5 = box ? ctx.serverKeys.openSealed(*box) : std::nullopt;
        if (!passwordMd5 || !Accounts::isPasswordHash(*passwordMd5)
            || !ctx.accounts.checkPassword(*user, *passwordMd5))
            return api.fail(Code::WrongPassword, "the account password does not match");
        const auto pair = bodyKeyPair(api, *body);
        if (!pair)
            return;
        const std::vector<Entry> removed =
            ctx.entries.purgeForNewKey(*user, [&](SqlConnection &db) { KeyStore::write(db, *user, *pair); });
        for (const Entry &e : removed)
            ctx.objects.remove({*user, e.fileId});
        Log::info("key reset for user " + std::to_string(*user) + ": removed " + std::to_string(removed.size())
                  + " entries");
        api.reply({{"code", Code::Ok}, {"count", removed.size()}});
    });
}

} // namespace ZorvelService
