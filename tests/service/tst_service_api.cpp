// The service's API over TLS: sign-up, sign-in with a sealed password hash, password
// reset through the outbox, the start-up handshake and version check; push
// POST/PUT/DELETE/GET, pull increments, clearing and the favourites merge; key pair
// storage, PIN changes checked against the stored PIN verifier (in the engine's format,
// see tst_zeromanager) and the key reset that empties the user's encrypted data; upload
// tokens, signed form uploads to the object store and the signed download redirect.
// (Notifications reach real clients in tst_SyncTwoClients.)

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include "Codec.h"
#include "ServiceConstants.h"

#include <set>

using namespace ServiceTest;
namespace Codec = ZorvelService::Codec;

namespace {

const std::string kKey1 = "0123456789abcdef0123456789abcdef";
const std::string kKey2 = "fedcba9876543210fedcba9876543210";

std::vector<std::string> hashes(const json &items)
{
    std::vector<std::string> out;
    for (const json &i : items)
        out.push_back(i["file_hash"]);
    return out;
}

std::string since(const Reply &pull)
{
    return "&last_request_timestamp=" + std::to_string(pull.body["request_timestamp"].get<std::int64_t>());
}

} // namespace

class TestServiceApi : public QObject {
    Q_OBJECT

private slots:
    void registerAndLogin()
    {
        TestService service;
        QVERIFY(service.ok());
        ApiClient a(service);
        const Reply created = a.registerUser("ann+tag@example.com", "secret one");
        QCOMPARE(created.code(), 0);
        QCOMPARE(created.body["token"].get<std::string>().size(), size_t(64));
        for (const auto &[email, code] : std::map<std::string, int> {
                 {"ann+tag@example.com", 1001}, {"ANN+TAG@example.com", 1001}, {"not-an-address", -1}})
            QCOMPARE(ApiClient(service).registerUser(email, "other").code(), code);

        ApiClient b(service);
        const Reply in = b.login("ann+tag@example.com", "secret one");
        QCOMPARE(in.code(), 0);
        QVERIFY(in.body["user_id"] == created.body["user_id"]);
        QVERIFY(in.body["token"] != created.body["token"]);
        QCOMPARE(b.get("pull/").code(), 0);

        ApiClient c(service);
        QCOMPARE(c.login("ann+tag@example.com", "secret two").code(), 1003);
        QCOMPARE(c.login("nobody@example.com", "secret one").code(), 1003);
        // Without a hash, and with the hash itself, not sealed.
        for (const json &body : {json {{"username", "ann+tag@example.com"}},
                                 json {{"username", "ann+tag@example.com"}, {"pwd_hash", md5Hex("secret one")}}})
            QCOMPARE(c.post("login_v2/", body.dump()).code(), 1003);
        QVERIFY(c.userToken.empty());

        // Only an Argon2id verifier is stored, never the hash the client sends.
        for (const std::string &verifier : service.query("SELECT verifier FROM users")) {
            QVERIFY(verifier.rfind("$argon2id$", 0) == 0);
            QVERIFY(verifier.find(md5Hex("secret one")) == std::string::npos);
        }
    }

    void handshakeReportsExpiredTokensAndVersion()
    {
        TestService service;
        ApiClient a(service, "bob@example.com");
        const Reply init = a.get("init/", "&device_name=host");
        QCOMPARE(init.code(), 0);
        QCOMPARE(init.body["data"]["token_expire"].get<int>(), 0);
        QCOMPARE(init.body["e2ee"].get<std::string>().rfind("https://127.0.0.1:", 0), size_t(0));
        QVERIFY(init.body["public_key"] == a.get("public_key/").body["public_key"]);
        QCOMPARE(Codec::fromBase64(init.body["public_key"])->size(), size_t(32));

        ApiClient stranger(service);
        QCOMPARE(stranger.get("init/").body["data"]["token_expire"].get<int>(), 0);
        stranger.userToken = std::string(64, 'a');
        QCOMPARE(stranger.get("init/").body["data"]["token_expire"].get<int>(), 1);
        QCOMPARE(stranger.get("pull/").status, 401);

        // A token past its time is reported and refused.
        service.query("UPDATE tokens SET expires = 1");
        QCOMPARE(a.get("init/").body["data"]["token_expire"].get<int>(), 1);
        QCOMPARE(a.get("pull/").status, 401);

        Reply version = a.get("check_version/");
        QCOMPARE(version.code(), 0);
        QVERIFY(version.body["data"]["version"] == "2.1.15");
        QVERIFY(version.body["data"].contains("download_url") && version.body["data"].contains("update_info"));

        QFile config(QString::fromStdString(service.dataDir() + "/config.json"));
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(R"({"version": "2.2.0", "update_info": "faster sync", "download_url": 7})");
        config.close();
        version = a.get("check_version/");
        QVERIFY(version.body["data"]["version"] == "2.2.0");
        QVERIFY(version.body["data"]["update_info"] == "faster sync");
        QVERIFY(version.body["data"]["download_url"].is_string());
    }

    void forgottenPasswordGoesToOutbox()
    {
        TestService service;
        ApiClient a(service);
        QCOMPARE(a.registerUser("carol@example.com", "old password").code(), 0);
        QCOMPARE(a.get("forget_pwd/", "&user_email=nobody@example.com").code(), 1002);
        const QDir outbox(QString::fromStdString(service.dataDir() + "/outbox"));
        QVERIFY(outbox.entryList(QDir::Files).isEmpty());

        QCOMPARE(a.get("forget_pwd/", "&user_email=carol@example.com").code(), 0);
        const QStringList mails = outbox.entryList({"*.eml"}, QDir::Files);
        QCOMPARE(mails.size(), 1);
        QFile mail(outbox.filePath(mails.first()));
        QVERIFY(mail.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(mail.readAll());
        QVERIFY(text.contains("To: carol@example.com"));
        const auto link = QRegularExpression("/account/reset\\?token=([0-9a-f]{64})").match(text);
        QVERIFY(link.hasMatch());

        // The link's form sets a new password (once) and signs every device out.
        const std::string token = link.captured(1).toStdString();
        QCOMPARE(a.get("/account/reset?token=" + token).status, 200);
        const std::string form = "token=" + token + "&password=new+password";
        const auto reset = [&] { return a.call("POST", "/account/reset", form, {}, "application/x-www-form-urlencoded").status; };
        QCOMPARE(reset(), 200);
        QCOMPARE(reset(), 400);
        QCOMPARE(a.get("pull/").status, 401);
        ApiClient b(service);
        QCOMPARE(b.login("carol@example.com", "old password").code(), 1003);
        QCOMPARE(b.login("carol@example.com", "new password").code(), 0);
    }

    void storeFetchAndChangePin()
    {
        TestService service;
        ApiClient a(service, "nia@example.com");
        const auto change = [&a](const json &dict, const json &proof = nullptr) {
            json body = {{"key_dict", dict}};
            if (!proof.is_null())
                body["last_pwd_hash"] = proof;
            return a.post("key/", body.dump()).code();
        };
        QCOMPARE(a.get("key/").code(), 404);
        const TestKey first = makeKey(kKey1, "1111");
        QCOMPARE(change(first.dict, first.pinHash), 404);

        QCOMPARE(a.put("key/", json {{"key_dict", first.dict}}.dump(4)).code(), 0);
        QVERIFY(a.get("key/").body["cipher"] == first.dict);
        QVERIFY(a.pushText("x")["key_hash"] == "");
        const json summary = {{"key_hash", kKey1}, {"cipher_hash", first.dict["cipher_hash"]}};
        QVERIFY(a.get("pull/").body["cipher"] == summary);
        // Content under another key is refused with the stored key's summary.
        const Reply stale = a.post("push/", history(textItem("secret", 0, 1000, kKey2)));
        QCOMPARE(stale.code(), -6);
        QVERIFY(stale.body["cipher"] == summary);

        // A second device activating with its own key must not replace the first one.
        QCOMPARE(a.put("key/", json {{"key_dict", makeKey(kKey2, "2222").dict}}.dump()).code(), 409);

        // PIN change: the old PIN's hash must reproduce the stored verifier.
        const TestKey rewrapped = makeKey(kKey1, "3333");
        QCOMPARE(change(rewrapped.dict, makeKey(kKey1, "9999").pinHash), 401);
        QCOMPARE(change(rewrapped.dict, "not base64!"), 401);
        QCOMPARE(change(rewrapped.dict), 401);
        QVERIFY(a.get("key/").body["cipher"] == first.dict);
        QCOMPARE(change(makeKey(kKey2, "3333").dict, first.pinHash), 409);
        QCOMPARE(change(rewrapped.dict, first.pinHash), 0);
        QVERIFY(a.get("key/").body["cipher"] == rewrapped.dict);
        // The old PIN no longer opens it.
        QCOMPARE(change(first.dict, first.pinHash), 401);

        json broken = first.dict;
        broken["cipher"] = "c2hvcnQ=";
        QCOMPARE(change(broken, rewrapped.pinHash), -1);
        QCOMPARE(a.put("key/", json {{"key_dict", "text"}}.dump()).code(), -1);
    }

    void resetNeedsThePasswordAndEmptiesEncryptedData()
    {
        TestService service;
        ApiClient a(service);
        QCOMPARE(a.registerUser("olga@example.com", "account pw").code(), 0);
        QCOMPARE(a.put("key/", json {{"key_dict", makeKey(kKey1, "1111").dict}}.dump()).code(), 0);
        const json secret = a.post("push/", history(textItem("secret", 0, 1000, kKey1))).body["history"];
        a.post("push/", history(textItem("loved", 5000, 1000, kKey1)));
        a.pushText("plain favourite", 7000);
        a.pushText("plain entry");
        QCOMPARE(a.upload(a.get("get_upload_token/", fileQuery(secret)).body, "ciphertext").code(), 0);
        const TestKey fresh = makeKey(kKey2, "2222");
        const auto reset = [&](const json &sealed) {
            json body = {{"key_dict", fresh.dict}};
            if (!sealed.is_null())
                body["pwd_hash_cipher"] = sealed;
            return a.post("revert_key/", body.dump(4));
        };

        // A wrong password, none, and the password itself instead of its hash.
        for (const json &sealed : {json(a.sealForService(md5Hex("wrong pw"))), json(), json(a.sealForService("account pw"))})
            QCOMPARE(reset(sealed).code(), -5);
        QCOMPARE(a.pullAll().size(), size_t(4));
        QVERIFY(a.get("key/").body["cipher"]["key_hash"] == kKey1);

        const Reply done = reset(a.sealForService(md5Hex("account pw")));
        QCOMPARE(done.code(), 0);
        QCOMPARE(done.body["count"].get<int>(), 3);
        const json left = a.get("pull/", "&last_request_timestamp=0").body;
        QCOMPARE(hashes(left["histories"]), std::vector<std::string> {md5Hex("plain entry")});
        QVERIFY(left["cipher"]["key_hash"] == kKey2);
        QVERIFY(a.get("key/").body["cipher"] == fresh.dict);
        QVERIFY(QDir(QString::fromStdString(service.dataDir() + "/objects/" + std::to_string(a.userId))).isEmpty());
    }

    void uploadThenSignedDownloadReturnsTheBytes()
    {
        TestService service;
        ApiClient a(service, "joe@example.com");
        const json entry = a.pushText("an image, say");
        const Reply before = a.get("pull/", "&last_request_timestamp=0");
        QCOMPARE(a.get("download_file/", fileQuery(entry)).status, 404); // not uploaded yet
        QCOMPARE(ApiClient(service).get("get_upload_token/", fileQuery(entry)).status, 401);
        const Reply token = a.get("get_upload_token/", fileQuery(entry));
        QCOMPARE(token.code(), 0);
        for (const char *member : {"host", "key", "file_name", "policy", "callback", "accessid", "signature"})
            QVERIFY2(token.body[member].is_string() && !token.body[member].get<std::string>().empty(), member);
        std::string bytes(300000, '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7);
        QCOMPARE(a.upload(token.body, bytes).code(), 0);

        // The entry now has its file, and devices that pulled it before see it again.
        QVERIFY(a.get("push/", "&history_id=0&file_hash=" + md5Hex("an image, say")).body["history"]["file_ready"] == true);
        QCOMPARE(a.get("pull/", since(before)).body["histories"].size(), size_t(1));

        const Reply redirect = a.get("download_file/", fileQuery(entry));
        QCOMPARE(redirect.status, 302);
        QVERIFY(redirect.location.rfind("https://127.0.0.1:" + std::to_string(service.port()) + "/oss/object/", 0) == 0);
        QVERIFY(a.get(redirect.location).raw == bytes);
        // A link with another signature, or with none, is refused.
        std::string forged = redirect.location;
        forged.back() = forged.back() == '0' ? '1' : '0';
        for (const std::string &url : {forged, redirect.location.substr(0, redirect.location.find('?'))})
            QCOMPARE(a.get(url).status, 403);

        // Deleting the entry removes its object as well.
        QCOMPARE(a.del("push/", "&history_id=" + idOf(entry)).code(), 0);
        QCOMPARE(a.get(redirect.location).status, 404);
        QCOMPARE(a.get("download_file/", fileQuery(entry)).status, 404);
    }

    void tamperedUploadsAreRefused()
    {
        TestService service;
        ApiClient a(service, "kim@example.com");
        const json token = a.get("get_upload_token/", fileQuery(a.pushText("document"))).body;

        // A policy with a later expiry, a changed signature, another key: without the
        // service's secret.
        json policy = json::parse(*Codec::fromBase64(token["policy"]));
        policy["expiration"] = policy["expiration"].get<std::int64_t>() + 100000;
        std::string signature = token["signature"];
        signature[0] = signature[0] == 'A' ? 'B' : 'A';
        for (const Fields &changed : {Fields {{"policy", Codec::toBase64(policy.dump())}}, Fields {{"Signature", signature}},
                                      Fields {{"key", "1/999"}}})
            QCOMPARE(a.upload(token, "x", changed).status, 403);

        // An expired policy, signed with the real secret, is refused as expired.
        QFile secretFile(QString::fromStdString(service.dataDir() + "/object-secret"));
        QVERIFY(secretFile.open(QIODevice::ReadOnly));
        policy["expiration"] = 1000;
        const std::string expired = Codec::toBase64(policy.dump());
        const Reply late = a.upload(token, "x", {{"policy", expired},
                                                 {"Signature", Codec::toBase64(Codec::hmacSha256(secretFile.readAll().toStdString(), expired))}});
        QCOMPARE(late.status, 403);
        QVERIFY(late.body["msg"].get<std::string>().find("expired") != std::string::npos);

        // Larger than an object may be (but within the request limit).
        QCOMPARE(a.upload(token, std::string(6 * 1024 * 1024 + 1, 'z')).status, 413);

        QVERIFY(a.get("push/", "&history_id=0&file_hash=" + md5Hex("document")).body["history"]["file_ready"] == false);
        QVERIFY(QDir(QString::fromStdString(service.dataDir() + "/objects")).isEmpty());
    }

    void pushCreatesFindsUpdatesAndFetches()
    {
        TestService service;
        ApiClient a(service, "dan@example.com");

        const Reply created = a.post("push/", history(textItem("alpha", 0, 1000)));
        QCOMPARE(created.code(), 0);
        const json first = created.body["history"];
        QVERIFY(first["history_id"].get<std::int64_t>() > 0);
        QVERIFY(first["file_id"].get<std::int64_t>() > 0);
        QVERIFY(first["file_ready"] == false);
        QVERIFY(created.body["cipher"] == json({{"key_hash", ""}, {"cipher_hash", ""}}));

        // The same content again is the same entry; the newer time is kept.
        const json again = a.post("push/", history(textItem("alpha", 0, 2000))).body["history"];
        QVERIFY(again["history_id"] == first["history_id"]);
        QVERIFY(again["file_id"] == first["file_id"]);
        QCOMPARE(again["timestamp"].get<double>(), 2000.0);
        QVERIFY(a.post("push/", history(textItem("beta"))).body["history"]["history_id"] != first["history_id"]);

        // PUT changes metadata; an older favourite mark loses to a newer one.
        json update = textItem("alpha", 3000, 2500);
        update.erase("content");
        QCOMPARE(a.put("push/", history(update)).code(), 0);
        update["favourite"] = -2000;
        const Reply put = a.put("push/", history(update));
        QCOMPARE(put.body["history"]["favourite"].get<std::int64_t>(), 3000);
        QCOMPARE(put.body["history"]["content"].get<std::string>(), std::string("alpha"));
        update["file_hash"] = md5Hex("never pushed");
        QCOMPARE(a.put("push/", history(update)).code(), -10);

        const std::string id = idOf(first);
        QVERIFY(a.get("push/", "&history_id=" + id + "&file_hash=" + md5Hex("alpha")).body["history"]["file_hash"] == md5Hex("alpha"));
        QVERIFY(a.get("push/", "&history_id=0&file_hash=" + md5Hex("beta")).body["history"]["content"] == "beta");
        QCOMPARE(a.get("push/", "&history_id=0&file_hash=" + md5Hex("gamma")).code(), -10);
        QCOMPARE(a.get("push/", "&history_id=999999&file_hash=" + md5Hex("beta")).code(), -10);
    }

    void pullReturnsOnlyChangesSince()
    {
        TestService service;
        ApiClient a(service, "fay@example.com");
        const json one = a.pushText("one", 0, 100);
        a.pushText("kept", 5000, 200);
        Reply pull = a.get("pull/", "&last_request_timestamp=0");
        QCOMPARE(pull.code(), 0);
        QCOMPARE(hashes(pull.body["histories"]), (std::vector<std::string> {md5Hex("one"), md5Hex("kept")}));
        QVERIFY(pull.body["action"].empty());
        QVERIFY(!pull.body.contains("clear_all_ts"));
        QVERIFY(pull.body.contains("cipher"));
        QVERIFY(a.get("pull/", since(pull)).body["histories"].empty());
        a.pushText("two", 0, 300);
        pull = a.get("pull/", since(pull));
        QCOMPARE(hashes(pull.body["histories"]), std::vector<std::string> {md5Hex("two")});

        // A deletion (repeated: no error) arrives as a "del" action.
        for (int twice = 0; twice < 2; ++twice)
            QCOMPARE(a.del("push/", "&history_id=" + idOf(one)).code(), 0);
        pull = a.get("pull/", since(pull));
        QVERIFY(pull.body["histories"].empty());
        QVERIFY(pull.body["action"] == json::array({{{"action", "del"}, {"history_id", one["history_id"]}}}));

        // Clearing removes non-favourites only and tells pulls when.
        const Reply cleared = a.get("clear_history/");
        QCOMPARE(cleared.code(), 0);
        QCOMPARE(cleared.body["count"].get<int>(), 1);
        pull = a.get("pull/", since(pull));
        QVERIFY(pull.body["clear_all_ts"].get<std::int64_t>() > 0);
        QCOMPARE(hashes(a.pullAll()), std::vector<std::string> {md5Hex("kept")});
        // A client ahead of the service's clock (a replaced database) gets everything.
        QCOMPARE(a.get("pull/", "&last_request_timestamp=2000000000").body["histories"].size(), size_t(1));
    }

    void unusualTextsSurviveTheDatabase()
    {
        TestService service;
        ApiClient a(service, "ivy@example.com");
        const std::vector<std::string> texts = {std::string("nul\0inside", 10), "\xF0\x9F\x93\x8B \xC3\xA9 ' \" \\ %s $1 ?1",
                                                std::string(3 * 1024 * 1024, 'x'), ""};
        for (const std::string &text : texts) {
            json sent = textItem(text.empty() ? "empty" : text, -(1ll << 61), 1.0e15 + 0.5);
            sent["content"] = text;
            sent["device_name"] = text.substr(0, 1024);
            sent["file_name"] = text.substr(0, 1024);
            QCOMPARE(a.post("push/", history(sent)).code(), 0);
            const json back = a.get("push/", "&history_id=0&file_hash=" + sent["file_hash"].get<std::string>())
                                  .body["history"];
            for (const char *member : {"content", "device_name", "file_name", "favourite", "timestamp", "file_size"})
                QVERIFY2(back[member] == sent[member], member);
        }
    }

    void largePullComesInParts()
    {
        TestService service;
        ApiClient a(service, "gus@example.com");
        const int total = ZorvelService::kPullMaxItems + 20;
        for (int i = 0; i < total; ++i)
            QVERIFY(!a.pushText("entry " + std::to_string(i), 0, 1000 + i).is_null());
        const Reply first = a.get("pull/", "&last_request_timestamp=0");
        QCOMPARE(first.body["histories"].size(), size_t(ZorvelService::kPullMaxItems));
        QVERIFY(first.body["more"] == true);
        const Reply rest = a.get("pull/", since(first));
        QCOMPARE(rest.body["histories"].size(), size_t(20));
        QVERIFY(rest.body["histories"][19]["content"] == "entry " + std::to_string(total - 1));
        QVERIFY(rest.body["more"] == false);
    }

    void favouritesMergeByLaterToggle()
    {
        TestService service;
        ApiClient a(service, "hal@example.com");
        const json unmarkedHere = a.pushText("unmarked here", -500);
        const json markedHere = a.pushText("marked here", 0);
        const json tie = a.pushText("tie", 300);
        const json gone = a.pushText("gone", 100);
        QCOMPARE(a.del("push/", "&history_id=" + idOf(gone)).code(), 0);

        const json marks = {{"favourites",
                             {{idOf(unmarkedHere), {{"favourite", 400}}},
                              {idOf(markedHere), {{"favourite", 600}}},
                              {idOf(tie), {{"favourite", 300}}},
                              {idOf(gone), {{"favourite", 100}}}}}};
        const Reply merged = a.post("get_favourite/", marks.dump(4));
        QCOMPARE(merged.code(), 0);
        QVERIFY(merged.body["delfavourites"] == json::array({{{"history_id", gone["history_id"]}}}));
        QVERIFY(merged.body["unfavourites"]
                == json::array({{{"history_id", unmarkedHere["history_id"]}, {"favourite", -500}}}));
        // The client's later mark was adopted; the service's favourites come back.
        const std::vector<std::string> favourites = hashes(merged.body["histories"]);
        QCOMPARE(std::set<std::string>(favourites.begin(), favourites.end()), (std::set<std::string> {md5Hex("marked here"), md5Hex("tie")}));
        QVERIFY(merged.body.contains("cipher"));
        QCOMPARE(a.post("get_favourite/", "{}").body["histories"].size(), size_t(2));

        // set_favourite: the later toggle wins, an older one is ignored.
        QCOMPARE(a.post("set_favourite/", history(textItem("tie", -200))).body["history"]["favourite"].get<std::int64_t>(), 300);
        QCOMPARE(a.post("set_favourite/", history(textItem("tie", -900))).body["history"]["favourite"].get<std::int64_t>(), -900);
        QCOMPARE(a.post("set_favourite/", history(textItem("gone", 1000))).code(), -4);
        // -4 only for what was deleted here; never received, or pushed again after the
        // deletion, is not "deleted".
        QCOMPARE(a.post("set_favourite/", history(textItem("never pushed", 1000))).code(), -10);
        a.pushText("gone", 100);
        QCOMPARE(a.post("set_favourite/", history(textItem("gone", 2000))).code(), 0);
    }

};

ZORVEL_TEST_MAIN(TestServiceApi)
#include "tst_service_api.moc"
