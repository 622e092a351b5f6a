// Key pair storage, PIN changes checked against the stored PIN verifier (in the
// engine's format, see tst_cindral), and the key reset that empties the user's
// encrypted data, against a real service.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QTest>

using namespace ServiceTest;

namespace {

const std::string kKey1 = "0123456789abcdef0123456789abcdef";
const std::string kKey2 = "fedcba9876543210fedcba9876543210";

} // namespace

class TestServiceKeys : public QObject {
    Q_OBJECT

private slots:
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
        const Reply fetched = a.get("key/");
        QCOMPARE(fetched.code(), 0);
        QVERIFY(fetched.body["cipher"] == first.dict);
        QVERIFY(a.pushText("x")["key_hash"] == "");
        QVERIFY(a.get("pull/").body["cipher"] == json({{"key_hash", kKey1}, {"cipher_hash", first.dict["cipher_hash"]}}));

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
        QCOMPARE(left["histories"].size(), size_t(1));
        QVERIFY(left["histories"][0]["content"] == "plain entry");
        QVERIFY(left["cipher"]["key_hash"] == kKey2);
        QVERIFY(a.get("key/").body["cipher"] == fresh.dict);
        QVERIFY(QDir(QString::fromStdString(service.dataDir() + "/objects/" + std::to_string(a.userId))).isEmpty());
    }
};

ZORVEL_TEST_MAIN(TestServiceKeys)
#include "tst_service_keys.moc"
