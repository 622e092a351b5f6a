// Key pair storage, PIN changes checked against the stored PIN verifier, and the key
// reset that empties the user's encrypted data, against a real service.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QTest>

using namespace ServiceTest;

namespace {

const std::string kKey1 = "0123456789abcdef0123456789abcdef";
const std::string kKey2 = "fedcba9876543210fedcba9876543210";

json encrypted(const std::string &text, const std::string &keyHash, std::int64_t favourite = 0)
{
    return {{"history",
             {{"content", "c2VhbGVk"},
              {"timestamp", 1000},
              {"device_name", "host"},
              {"file_hash", md5Hex(text)},
              {"file_name", ""},
              {"file_size", 10},
              {"type", "text_txt+enc"},
              {"favourite", favourite},
              {"key_hash", keyHash}}}};
}

} // namespace

class TestServiceKeys : public QObject {
    Q_OBJECT

private slots:
    void storeFetchAndChangePin()
    {
        TestService service;
        ApiClient a(service);
        QCOMPARE(a.registerUser("nia@example.com", "pw").code(), 0);
        QCOMPARE(a.get("key/").code(), 404);
        const TestKey first = makeKey(kKey1, "1111");
        QCOMPARE(a.post("key/", json {{"key_dict", first.dict}, {"last_pwd_hash", first.pinHash}}.dump()).code(), 404);

        QCOMPARE(a.put("key/", json {{"key_dict", first.dict}}.dump(4)).code(), 0);
        Reply fetched = a.get("key/");
        QCOMPARE(fetched.code(), 0);
        QVERIFY(fetched.body["cipher"] == first.dict);
        QVERIFY(a.pushText("x")["key_hash"] == "");
        QVERIFY(a.get("pull/").body["cipher"]
                == json({{"key_hash", kKey1}, {"cipher_hash", first.dict["cipher_hash"]}}));

        // A second device activating with its own key must not replace the first one.
        QCOMPARE(a.put("key/", json {{"key_dict", makeKey(kKey2, "2222").dict}}.dump()).code(), 409);

        // PIN change: the old PIN's hash must reproduce the stored verifier.
        const TestKey rewrapped = makeKey(kKey1, "3333");
        const TestKey wrongPin = makeKey(kKey1, "9999");
        QCOMPARE(a.post("key/", json {{"key_dict", rewrapped.dict}, {"last_pwd_hash", wrongPin.pinHash}}.dump()).code(),
                 401);
        QCOMPARE(a.post("key/", json {{"key_dict", rewrapped.dict}, {"last_pwd_hash", "not base64!"}}.dump()).code(),
                 401);
        QCOMPARE(a.post("key/", json {{"key_dict", rewrapped.dict}}.dump()).code(), 401);
        QVERIFY(a.get("key/").body["cipher"] == first.dict);
        const TestKey otherKey = makeKey(kKey2, "3333");
        QCOMPARE(a.post("key/", json {{"key_dict", otherKey.dict}, {"last_pwd_hash", first.pinHash}}.dump()).code(), 409);
        QCOMPARE(a.post("key/", json {{"key_dict", rewrapped.dict}, {"last_pwd_hash", first.pinHash}}.dump()).code(), 0);
        QVERIFY(a.get("key/").body["cipher"] == rewrapped.dict);
        // The old PIN no longer opens it; the new one does.
        QCOMPARE(a.post("key/", json {{"key_dict", first.dict}, {"last_pwd_hash", first.pinHash}}.dump()).code(), 401);

        json broken = first.dict;
        broken["cipher"] = "c2hvcnQ=";
        QCOMPARE(a.post("key/", json {{"key_dict", broken}, {"last_pwd_hash", rewrapped.pinHash}}.dump()).code(), -1);
        QCOMPARE(a.put("key/", json {{"key_dict", "text"}}.dump()).code(), -1);
    }

    void resetNeedsThePasswordAndEmptiesEncryptedData()
    {
        TestService service;
        ApiClient a(service);
        QCOMPARE(a.registerUser("olga@example.com", "account pw").code(), 0);
        QCOMPARE(a.put("key/", json {{"key_dict", makeKey(kKey1, "1111").dict}}.dump()).code(), 0);
        const json secret = a.post("push/", encrypted("secret", kKey1).dump()).body["history"];
        a.post("push/", encrypted("loved", kKey1, 5000).dump());
        a.pushText("plain favourite", 7000);
        a.pushText("plain entry");
        const json token = a.get("get_upload_token/", "&file_id=" + std::to_string(secret["file_id"].get<std::int64_t>())
                                                          + "&file_hash=" + md5Hex("secret"))
                               .body;
        QCOMPARE(a.postForm(token["host"], {{"key", token["key"]}, {"policy", token["policy"]},
                                            {"callback", token["callback"]}, {"OSSAccessKeyId", token["accessid"]},
                                            {"Signature", token["signature"]}, {"success_action_status", "200"}},
                            "ciphertext", "f")
                     .code(),
                 0);
        const TestKey fresh = makeKey(kKey2, "2222");

        QCOMPARE(a.post("revert_key/", json {{"key_dict", fresh.dict},
                                             {"pwd_hash_cipher", a.sealForService(md5Hex("wrong pw"))}}
                                           .dump())
                     .code(),
                 -5);
        QCOMPARE(a.post("revert_key/", json {{"key_dict", fresh.dict}}.dump()).code(), -5);
        QCOMPARE(a.post("revert_key/", json {{"key_dict", fresh.dict},
                                             {"pwd_hash_cipher", a.sealForService("account pw")}}
                                           .dump())
                     .code(),
                 -5);
        QCOMPARE(a.get("pull/", "&last_request_timestamp=0").body["histories"].size(), size_t(4));
        QVERIFY(a.get("key/").body["cipher"]["key_hash"] == kKey1);

        const Reply reset = a.post("revert_key/", json {{"key_dict", fresh.dict},
                                                        {"pwd_hash_cipher", a.sealForService(md5Hex("account pw"))}}
                                                      .dump(4));
        QCOMPARE(reset.code(), 0);
        QCOMPARE(reset.body["count"].get<int>(), 3);
        const json left = a.get("pull/", "&last_request_timestamp=0").body;
        QCOMPARE(left["histories"].size(), size_t(1));
        QVERIFY(left["histories"][0]["content"] == "plain entry");
        QVERIFY(left["cipher"]["key_hash"] == kKey2);
        QVERIFY(a.get("key/").body["cipher"] == fresh.dict);
        const QDir objects(QString::fromStdString(service.dataDir() + "/objects/" + std::to_string(a.userId)));
        QVERIFY(objects.entryList(QDir::Files).isEmpty());
    }
};

ZORVEL_TEST_MAIN(TestServiceKeys)
#include "tst_service_keys.moc"
