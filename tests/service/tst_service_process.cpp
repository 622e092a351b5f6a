// The zorvel-service program itself: first run in an empty folder, TLS with its own
// CA on a port it picked, a clean stop on SIGTERM, and refusal of bad flags.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>

class TestServiceProcess : public QObject {
    Q_OBJECT

private slots:
    void firstRunServesTlsAndStopsCleanly()
    {
        QTemporaryDir dir;
        const QString data = dir.filePath("fresh/data");
        ServiceTest::TestDatabase database;
        QStringList args = {"--listen", "127.0.0.1:0", "--data", data};
        if (!database.url().empty())
            args << "--database" << QString::fromStdString(database.url());
        QProcess service;
        service.start(ZORVEL_SERVICE_EXE, args);
        QVERIFY(service.waitForStarted());
        QByteArray output;
        QRegularExpressionMatch match;
        const QRegularExpression listening("listening on https://127.0.0.1:(\\d+) port (\\d+)");
        QTRY_VERIFY_WITH_TIMEOUT((match = listening.match(QString::fromUtf8(output += service.readAllStandardOutput())))
                                     .hasMatch(),
                                 20000);
        const int port = match.captured(2).toInt();
        for (const char *file : {"ca.pem", "server.pem", "server-key.pem", "ca-key.pem", "box-key", "config.json"})
            QVERIFY2(QFile::exists(data + "/" + file), file);
        QVERIFY(!(QFile(data + "/server-key.pem").permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)));

        httplib::SSLClient client("127.0.0.1", port);
        client.set_ca_cert_path((data + "/ca.pem").toStdString().c_str());
        client.enable_server_certificate_verification(true);
        auto reply = client.Get("/api/init/?version=2.1.15&device_token=t&device_type=linux_6&encrypt=1");
        QVERIFY(reply);
        QCOMPARE(reply->status, 200);
        QCOMPARE(nlohmann::json::parse(reply->body)["code"].get<int>(), 0);
        // The certificate names localhost as well.
        httplib::SSLClient byName("localhost", port);
        byName.set_ca_cert_path((data + "/ca.pem").toStdString().c_str());
        byName.enable_server_certificate_verification(true);
        QVERIFY(byName.Get("/api/public_key/"));
        // A client that does not trust the CA is turned away by its own check.
        httplib::SSLClient untrusting("127.0.0.1", port);
        untrusting.enable_server_certificate_verification(true);
        untrusting.set_ca_cert_path("/nonexistent.pem");
        QVERIFY(!untrusting.Get("/api/public_key/"));

        ::kill(static_cast<pid_t>(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
    }

    void badFlagsAreRefused()
    {
        for (const QStringList &args : {QStringList {"--listen", "127.0.0.1:0"}, QStringList {"--data", "/tmp", "--port", "x"},
                                        QStringList {"--bogus", "1"}, QStringList {"--data", "/tmp", "--tls-cert", "c.pem"}}) {
            QProcess service;
            service.start(ZORVEL_SERVICE_EXE, args);
            QVERIFY(service.waitForFinished(10000));
            QCOMPARE(service.exitCode(), 2);
            QVERIFY(service.readAllStandardError().contains("usage:"));
        }
    }
};

ZORVEL_TEST_MAIN(TestServiceProcess)
#include "tst_service_process.moc"
