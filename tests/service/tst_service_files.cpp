// File transfer against a real service: upload token, signed form upload to the object
// store, the notification at a real subscriber, and the signed download redirect.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include "Codec.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace ServiceTest;
namespace Codec = ZorvelService::Codec;

class TestServiceFiles : public QObject {
    Q_OBJECT

private slots:
    void uploadNotifiesAndDownloadReturnsTheBytes()
    {
        TestService service;
        ApiClient a(service, "joe@example.com");
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
        const Reply upload = a.upload(token.body, bytes);
        QCOMPARE(upload.status, 200);
        QCOMPARE(upload.code(), 0);

        QTRY_VERIFY_WITH_TIMEOUT(!subscriber.find("history_upload_file", entry["file_hash"], a.deviceToken).is_null(), 10000);
        const json notice = subscriber.find("history_upload_file", entry["file_hash"], a.deviceToken)["data"];
        QVERIFY(notice["history_id"] == idOf(entry));
        QVERIFY(notice["file_id"] == std::to_string(entry["file_id"].get<std::int64_t>()));

        // The entry now has its file, and devices that pulled it before see it again.
        QVERIFY(a.get("push/", "&history_id=0&file_hash=" + md5Hex("an image, say")).body["history"]["file_ready"] == true);
        const auto since = std::to_string(before.body["request_timestamp"].get<std::int64_t>());
        QCOMPARE(a.get("pull/", "&last_request_timestamp=" + since).body["histories"].size(), size_t(1));

        const Reply redirect = a.get("download_file/", fileQuery(entry));
        QCOMPARE(redirect.status, 302);
        QVERIFY(redirect.location.rfind("https://127.0.0.1:" + std::to_string(service.port()) + "/oss/object/", 0) == 0);
        const Reply download = a.get(redirect.location);
        QCOMPARE(download.status, 200);
        QVERIFY(download.raw == bytes);

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

    void tokenAndDownloadErrors()
    {
        TestService service;
        ApiClient a(service, "lee@example.com");
        const json entry = a.pushText("text");
        QCOMPARE(a.get("get_upload_token/", "&file_id=987654&file_hash=" + md5Hex("text")).status, 404);
        json otherHash = entry;
        otherHash["file_hash"] = md5Hex("other");
        QCOMPARE(a.get("get_upload_token/", fileQuery(otherHash)).status, 404);
        QCOMPARE(a.get("download_file/", fileQuery(entry)).status, 404); // not uploaded yet

        ApiClient stranger(service);
        stranger.userToken = std::string(64, 'b');
        QCOMPARE(stranger.get("get_upload_token/", fileQuery(entry)).status, 401);
        QCOMPARE(stranger.get("download_file/", fileQuery(entry)).status, 401);
        QCOMPARE(ApiClient(service, "max@example.com").get("get_upload_token/", fileQuery(entry)).status, 404);

        const json token = a.get("get_upload_token/", fileQuery(entry)).body;
        QCOMPARE(a.upload(token, "payload").code(), 0);
        const std::string location = a.get("download_file/", fileQuery(entry)).location;
        QCOMPARE(a.get(location).status, 200);
        std::string forged = location;
        forged.back() = forged.back() == '0' ? '1' : '0';
        const std::string key = token["key"];
        for (const std::string &url : {forged, "/oss/object/" + key + "?expires=99999999999&signature=00", "/oss/object/" + key})
            QCOMPARE(a.get(url).status, 403);
    }
};

ZORVEL_TEST_MAIN(TestServiceFiles)
#include "tst_service_files.moc"
