// Key pair storage, PIN changes checked against the stored PIN verifier, and the key
// reset that empties the user's encrypted data, against a real service.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include "KeyStore.h"
#include "Codec.h"

#include <cindral.h>
#include <sodium.h>

#include <QDir>
#include <QTest>

#include <cstdlib>

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

// A key dictionary as the client builds it, from the engine itself.
json engineDict(const ce_key_record &key, const ce_cipher_record &cipher)
{
    return {{"key_timestamp", key.timestamp},
            {"key_hash", std::string(key.hash, 32)},
            {"cipher", ZorvelService::Codec::toBase64(std::string(reinterpret_cast<const char *>(cipher.wrapped), 48))},
            {"cipher_timestamp", cipher.timestamp},
            {"cipher_hash", std::string(cipher.hash, 64)},
            {"version", "1.0"},
            {"platform", "linux_6"}};
}

// Base64 of the engine's slow hash of salt ‖ secret; salt empty: the first
// construction's unsalted PIN hash (Argon2id under one fixed salt for everybody).
std::string proof(const std::string &cipherHash, const std::string &pin)
{
    if (cipherHash.empty()) {
        unsigned char h[32];
        if (crypto_pwhash(h, sizeof h, pin.data(), pin.size(), reinterpret_cast<const unsigned char *>("cindral-hash-v01"),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                          crypto_pwhash_ALG_ARGON2ID13)
            != 0)
            return std::string();
        return ZorvelService::Codec::toBase64(std::string(reinterpret_cast<char *>(h), sizeof h));
    }
    const std::string input = *ZorvelService::Codec::fromHex(cipherHash.substr(0, 32)) + pin;
    unsigned char *out = nullptr;
    int32_t outLen = 0;
    if (ce_hash_data(reinterpret_cast<const unsigned char *>(input.data()), int64_t(input.size()), &out, &outLen) != 0)
        return std::string();
    const std::string text = ZorvelService::Codec::toBase64(std::string(reinterpret_cast<char *>(out), size_t(outLen)));
    std::free(out);
    return text;
}

} // namespace

class TestServiceKeys : public QObject {
    Q_OBJECT

private slots:
    // The check the service runs on "last_pwd_hash", against records the engine made:
    // two users with the same PIN share nothing, and a hash of the PIN alone is refused.
    void pinProofIsPerWrap()
    {
        struct Freed {
            void operator()(void *p) const { std::free(p); }
        };
        std::unique_ptr<ce_key_record, Freed> key(ce_data_new());
        const std::string pin = "246810";
        std::unique_ptr<ce_cipher_record, Freed> userA(ce_generate_cipher(pin.data(), int32_t(pin.size()), key.get()));
        std::unique_ptr<ce_cipher_record, Freed> userB(ce_generate_cipher(pin.data(), int32_t(pin.size()), key.get()));
        std::string reason;
        const auto a = ZorvelService::KeyPair::fromDict(engineDict(*key, *userA), &reason);
        const auto b = ZorvelService::KeyPair::fromDict(engineDict(*key, *userB), &reason);
        QVERIFY(a && b);
        QVERIFY(a->cipherHash.substr(32) != b->cipherHash.substr(32));

        const std::string proofA = proof(a->cipherHash, pin);
        QVERIFY(a->pinMatches(proofA));
        QVERIFY(!b->pinMatches(proofA));
        QVERIFY(!a->pinMatches(proof(a->cipherHash, "246811")));
        QVERIFY(!a->pinMatches(proof(std::string(), pin)));
    }

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
