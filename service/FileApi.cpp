#include "FileApi.h"

#include "ApiRequest.h"
#include "Codec.h"
#include "EntryStore.h"
#include "Log.h"
#include "Notifier.h"
#include "ObjectStore.h"
#include "ServiceConstants.h"

#include <httplib.h>

namespace ZorvelService {

namespace {

using nlohmann::json;

// The caller's entry for file_id + file_hash; on failure the reply is set (HTTP 401,
// 400 or 404).
std::optional<Entry> requestedFile(ApiContext &ctx, ApiRequest &api)
{
    const auto user = api.authenticate(ctx.accounts);
    if (!user)
        return std::nullopt;
    const auto fileId = Codec::parseInt(api.param("file_id"));
    const std::string fileHash = api.param("file_hash");
    if (!fileId || *fileId <= 0 || !Codec::isFileHash(fileHash)) {
        api.fail(Code::BadRequest, "a positive \"file_id\" and a valid \"file_hash\" are needed", 400);
        return std::nullopt;
    }
    auto entry = ctx.entries.findByFile(*user, *fileId);
    if (!entry || entry->fileHash != fileHash) {
        api.fail(404, "no such file", 404);
        return std::nullopt;
    }
    return entry;
}

} // namespace

FileApi::FileApi(ApiContext &context)
    : m_context(context)
{
}

void FileApi::registerRoutes(httplib::Server &server)
{
    ApiContext &ctx = m_context;

    server.Get("/api/get_upload_token/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto entry = requestedFile(ctx, api);
        if (!entry)
            return;
        ObjectStore::Policy policy;
        policy.userId = entry->userId;
        policy.fileId = entry->fileId;
        policy.historyId = entry->historyId;
        policy.key = ObjectStore::keyFor({entry->userId, entry->fileId});
        policy.fileHash = entry->fileHash;
        policy.deviceToken = api.deviceToken();
        policy.expires = Codec::now() + kUploadPolicySeconds;
        policy.maxBytes = kMaxObjectBytes;
        const std::string encoded = ctx.objects.encodePolicy(policy);
        const json callback = {{"history_id", entry->historyId}, {"file_id", entry->fileId}};
        api.reply({{"code", Code::Ok},
                   {"host", ctx.publicUrl + "/oss/upload"},
                   {"key", policy.key},
                   {"file_name", entry->fileHash},
                   {"policy", encoded},
                   {"callback", Codec::toBase64(callback.dump())},
                   {"accessid", kAccessId},
                   {"signature", ctx.objects.signPolicy(encoded)},
                   {"expire", policy.expires}});
    });

    server.Post("/oss/upload", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        if (!req.is_multipart_form_data())
            return api.fail(400, "a multipart/form-data upload is expected", 400);
        for (const char *field : {"key", "policy", "callback", "OSSAccessKeyId", "Signature", "success_action_status", "file"}) {
            if (!req.has_file(field))
                return api.fail(400, std::string("form field \"") + field + "\" is missing", 400);
        }
        const std::string key = req.get_file_value("key").content;
        if (req.get_file_value("OSSAccessKeyId").content != kAccessId)
            return api.fail(403, "unknown access id", 403);
        ObjectStore::PolicyError error = ObjectStore::PolicyError::None;
        const auto policy =
            ctx.objects.verifyPolicy(req.get_file_value("policy").content, req.get_file_value("Signature").content,
                                     &error);
        if (!policy) {
            const char *why = error == ObjectStore::PolicyError::Expired ? "the policy has expired"
                : error == ObjectStore::PolicyError::BadSignature       ? "the signature does not match the policy"
                                                                        : "the policy is malformed";
            Log::warning(std::string("object upload refused: ") + why);
            return api.fail(403, why, 403);
        }
        if (key != policy->key)
            return api.fail(403, "the key is not the one the policy allows", 403);
        const std::string &bytes = req.get_file_value("file").content;
        if (static_cast<std::int64_t>(bytes.size()) > policy->maxBytes)
            return api.fail(413, "the file is larger than the policy allows", 413);
        const ObjectStore::Location location {policy->userId, policy->fileId};
        if (!ctx.objects.write(location, bytes))
            return api.fail(500, "the object could not be stored", 500);
        const auto entry = ctx.entries.markFileReady(policy->userId, policy->fileId, policy->fileHash);
        if (!entry) {
            // The entry went away (deleted, cleared or replaced) while the file travelled.
            ctx.objects.remove(location);
            return api.fail(404, "the entry of this file no longer exists", 404);
        }
        ctx.notifier.publish(policy->userId, "history_upload_file",
                             {{"file_hash", entry->fileHash},
                              {"history_id", std::to_string(entry->historyId)},
                              {"file_id", std::to_string(entry->fileId)},
                              {"device_token", policy->deviceToken}});
        api.reply({{"code", Code::Ok}});
    });

    server.Get("/api/download_file/", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const auto entry = requestedFile(ctx, api);
        if (!entry)
            return;
        if (!entry->fileReady)
            return api.fail(404, "the file has not been uploaded yet", 404);
        api.redirect(ctx.publicUrl + ctx.objects.signedObjectPath({entry->userId, entry->fileId}));
    });

    server.Get(R"(/oss/object/(.+))", [&ctx](const httplib::Request &req, httplib::Response &res) {
        ApiRequest api(req, res);
        const std::string key = req.matches[1];
        const auto location = ObjectStore::parseKey(key);
        if (!location)
            return api.fail(400, "malformed object key", 400);
        if (!ctx.objects.verifyObjectSignature(key, api.param("expires"), api.param("signature")))
            return api.fail(403, "the link is not valid or has expired", 403);
        const auto bytes = ctx.objects.read(*location);
        if (!bytes)
            return api.fail(404, "no such object", 404);
        res.set_content(*bytes, "application/octet-stream");
    });
}

} // namespace ZorvelService
