// File transfer against a real service: upload token, signed form upload to the object
// store, the notification at a real subscriber, and the signed download redirect.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include "Codec.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace ServiceTest;

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

Fields formFields(const json &token)
{
    return {{"key", token["key"]},
            {"policy", token["policy"]},
            {"callback", token["callback"]},
            {"OSSAccessKeyId", token["accessid"]},
            {"Signature", token["signature"]},
            {"success_action_status", "200"}};
}

std::string fileQuery(const json &entry)
{
    return "&file_id=" + std::to_string(entry["file_id"].get<std::int64_t>()) + "&file_hash="
        + entry["file_hash"].get<std::string>();
}

void setField(Fields &fields, const std::string &name, const std::string &value)
{
    for (auto &field : fields) {
        if (field.first == name)
            field.second = value;
    }
}

} // namespace

class TestServiceFiles : public QObject {
    Q_OBJECT

private slots:
    void uploadNotifiesAndDownloadReturnsTheBytes()
    {
        TestService service;
        ApiClient a(service);
        QCOMPARE(a.registerUser("joe@example.com", "pw").code(), 0);
        Subscriber subscriber(a);
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.ready(), 10000);

        const json entry = a.pushText("an image, say");
        const Reply before = a.get("pull/", "&last_request_timestamp=0");
        const Reply token = a.get("get_upload_token/", fileQuery(entry));
        QCOMPARE(token.code(), 0);
        for (const char *member : {"host", "key", "file_name", "policy", "callback", "accessid", "signature"})
            QVERIFY2(token.body[member].is_string() && !token.body[member].get<std::string>().empty(), member);

        std::string bytes(300000, '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7);
        const Reply upload = a.postForm(token.body["host"], formFields(token.body), bytes, token.body["file_name"]);
        QCOMPARE(upload.status, 200);
        QCOMPARE(upload.code(), 0);

        QTRY_VERIFY_WITH_TIMEOUT(!subscriber.find("history_upload_file", entry["file_hash"], a.deviceToken).is_null(), 10000);
        const json notice = subscriber.find("history_upload_file", entry["file_hash"], a.deviceToken);
        QVERIFY(notice["data"]["device_token"] == a.deviceToken);
        QVERIFY(notice["data"]["history_id"] == std::to_string(entry["history_id"].get<std::int64_t>()));
        QVERIFY(notice["data"]["file_id"] == std::to_string(entry["file_id"].get<std::int64_t>()));

        // The entry now has its file, and devices that pulled it before see it again.
        const Reply fetched = a.get("push/", "&history_id=0&file_hash=" + entry["file_hash"].get<std::string>());
        QVERIFY(fetched.body["history"]["file_ready"] == true);
        const Reply after = a.get("pull/", "&last_request_timestamp="
                                               + std::to_string(before.body["request_timestamp"].get<std::int64_t>()));
        QCOMPARE(after.body["histories"].size(), size_t(1));

        const Reply redirect = a.get("download_file/", fileQuery(entry));
        QCOMPARE(redirect.status, 302);
        QVERIFY(redirect.location.rfind("https://127.0.0.1:" + std::to_string(service.port()) + "/oss/object/", 0) == 0);
        const Reply download = a.getAbsolute(redirect.location);
        QCOMPARE(download.status, 200);
        QVERIFY(download.raw == bytes);

        // Deleting the entry removes its object as well.
        QCOMPARE(a.del("push/", "&history_id=" + std::to_string(entry["history_id"].get<std::int64_t>())).code(), 0);
        QCOMPARE(a.getAbsolute(redirect.location).status, 404);
        QCOMPARE(a.get("download_file/", fileQuery(entry)).status, 404);
    }

    void tamperedUploadsAreRefused()
    {
        TestService service;
        ApiClient a(service);
        QCOMPARE(a.registerUser("kim@example.com", "pw").code(), 0);
        const json entry = a.pushText("document");
        const json token = a.get("get_upload_token/", fileQuery(entry)).body;
        const std::string host = token["host"];

        // A policy with a later expiry and another key, without the service's secret.
        json policy = json::parse(*ZorvelService::Codec::fromBase64(token["policy"]));
        policy["expiration"] = policy["expiration"].get<std::int64_t>() + 100000;
        Fields fields = formFields(token);
        setField(fields, "policy", ZorvelService::Codec::toBase64(policy.dump()));
        QCOMPARE(a.postForm(host, fields, "x", "f").status, 403);

        fields = formFields(token);
        std::string signature = token["signature"];
        signature[0] = signature[0] == 'A' ? 'B' : 'A';
        setField(fields, "Signature", signature);
        QCOMPARE(a.postForm(host, fields, "x", "f").status, 403);

        fields = formFields(token);
        setField(fields, "key", "1/999");
        QCOMPARE(a.postForm(host, fields, "x", "f").status, 403);

        // An expired policy, signed with the real secret, is refused as expired.
        QFile secretFile(QString::fromStdString(service.dataDir() + "/object-secret"));
        QVERIFY(secretFile.open(QIODevice::ReadOnly));
        const std::string secret = secretFile.readAll().toStdString();
        policy = json::parse(*ZorvelService::Codec::fromBase64(token["policy"]));
        policy["expiration"] = 1000;
        const std::string expired = ZorvelService::Codec::toBase64(policy.dump());
        fields = formFields(token);
        setField(fields, "policy", expired);
        setField(fields, "Signature", ZorvelService::Codec::toBase64(ZorvelService::Codec::hmacSha256(secret, expired)));
        const Reply late = a.postForm(host, fields, "x", "f");
        QCOMPARE(late.status, 403);
        QVERIFY(late.body["msg"].get<std::string>().find("expired") != std::string::npos);

        // Larger than an object may be (but within the request limit).
        QCOMPARE(a.postForm(host, formFields(token), std::string(6 * 1024 * 1024 + 1, 'z'), "f").status, 413);

        QVERIFY(a.get("push/", "&history_id=0&file_hash=" + md5Hex("document")).body["history"]["file_ready"] == false);
        QDir objects(QString::fromStdString(service.dataDir() + "/objects"));
        QVERIFY(objects.entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    }

    void tokenAndDownloadErrors()
    {
        TestService service;
        ApiClient a(service);
        QCOMPARE(a.registerUser("lee@example.com", "pw").code(), 0);
        const json entry = a.pushText("text");
        QCOMPARE(a.get("get_upload_token/", "&file_id=987654&file_hash=" + md5Hex("text")).status, 404);
        QCOMPARE(a.get("get_upload_token/", "&file_id=" + std::to_string(entry["file_id"].get<std::int64_t>())
                                                + "&file_hash=" + md5Hex("other")).status,
                 404);
        QCOMPARE(a.get("download_file/", fileQuery(entry)).status, 404); // not uploaded yet

        ApiClient stranger(service);
        stranger.userToken = std::string(64, 'b');
        QCOMPARE(stranger.get("get_upload_token/", fileQuery(entry)).status, 401);
        QCOMPARE(stranger.get("download_file/", fileQuery(entry)).status, 401);
        ApiClient other(service);
        QCOMPARE(other.registerUser("max@example.com", "pw").code(), 0);
        QCOMPARE(other.get("get_upload_token/", fileQuery(entry)).status, 404);

        const json token = a.get("get_upload_token/", fileQuery(entry)).body;
        QCOMPARE(a.postForm(token["host"], formFields(token), "payload", "f").code(), 0);
        const std::string location = a.get("download_file/", fileQuery(entry)).location;
        QCOMPARE(a.getAbsolute(location).status, 200);
        std::string forged = location;
        forged[forged.size() - 1] = forged.back() == '0' ? '1' : '0';
        QCOMPARE(a.getAbsolute(forged).status, 403);
        const std::string key = token["key"];
        QCOMPARE(a.getAbsolute("/oss/object/" + key + "?expires=99999999999&signature=00").status, 403);
        QCOMPARE(a.getAbsolute("/oss/object/" + key).status, 403);
    }
};

ZORVEL_TEST_MAIN(TestServiceFiles)
#include "tst_service_files.moc"
