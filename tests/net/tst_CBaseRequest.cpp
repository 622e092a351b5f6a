// The request base against a loopback TLS endpoint: headers, statuses, redirects,
// bad bodies, an untrusted peer, the upload host.
#include "support/TestMain.h"
#include "NetFixture.h"
#include "TlsTestServer.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/LogHandler.h"
#include "net/BuildSettings.h"
#include "net/CClearHistoryRequest.h"
#include "net/CPullRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestPushGet.h"
#include "net/CRequestPushPost.h"
#include "net/CRequestPushPut.h"
#include "net/CRequestUploadFile.h"

#include <QSettings>
#include <QtTest>

#include <csignal>

using namespace NetFixture;

namespace {

// A request aimed at the test endpoint that counts how often its parser ran.
class ProbeRequest : public CBaseRequest
{
public:
    ProbeRequest(const QString &base, const QString &path, const QString &method, int *parsed)
        : parsed(parsed)
    {
        setBaseUrl(base);
        setPath(path);
        setMethod(method);
    }
    void buildUrl() override { setUrl(fullUrl()); }
    void buildBody() override { setBody("{\"probe\": 1}"); }
    bool canContinue() override { return true; }
    QVariant parseResponse(const QByteArray &body) override
    {
        ++*parsed;
        QJsonObject object;
        return parseObject(body, &object) ? QVariant(object.toVariantMap()) : QVariant();
    }
    int *parsed;
};

QString logText()
{
    QFile f(CFileManager::rootPath() + "/log.txt");
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

} // namespace

class TestCBaseRequest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TlsTestServer> server;
    int parsed = 0;

    ProbeRequest *probe(const QString &path, const QString &method = "GET")
    {
        return new ProbeRequest(server->baseUrl(), path, method, &parsed);
    }
    QString seen(const char *what, const QString &path = "/echo/") { return server->last(path).value(what).toString(); }

    void signInLocally()
    {
        clipUtils::settings()->setValue("user_id", "7");
        clipUtils::settings()->setValue("user_token", "local-token");
    }

private Q_SLOTS:
    void initTestCase()
    {
        std::signal(SIGPIPE, SIG_IGN); // the endpoint writes into connections the client aborted
        qInstallMessageHandler(logMessageHandler);
        QVERIFY(DBFetcher::instance()->isOpen());
        server = std::make_unique<TlsTestServer>(QDir::homePath() + "/tls");
        QVERIFY(server->isRunning());
    }

    void init()
    {
        parsed = 0;
        signOutLocally();
    }

    void commonQueryCarriesKeyHashesOnlyWithAKey()
    {
        signInLocally();
        CBaseRequest plain;
        const QString expected = "?version=2.1.15&device_token=" + clipUtils::deviceToken() + "&device_type="
            + clipUtils::platformName() + "&encrypt=1";
        QCOMPARE(plain.commonQuery(), expected);
        QVERIFY(plain.deviceType().startsWith("linux_"));
        ZeroManager *zero = ZeroManager::instance();
        createKey();
        QCOMPARE(plain.commonQuery(), expected + "&key_hash=" + zero->keyHash() + "&cipher_hash=" + zero->cipherHash());
        QCOMPARE(plain.fullUrl(), QString(Zorvel::Build::kApiBaseUrl) + plain.commonQuery());

        // Members are snapshots of construction.
        CPullRequest pull;
        clipUtils::settings()->setValue("user_token", "someone-else");
        pull.buildUrl();
        QVERIFY(pull.url().contains("&last_request_timestamp=0&") && pull.url().endsWith("&user_token=local-token"));
    }

    void refusedRequestsReportOnceBeforeStartReturns()
    {
        History record = captureText("refused");
        record.setHistoryId(5);
        QList<CBaseRequest *> requests = {new CPullRequest, new CClearHistoryRequest};
        for (CRequestPush *p : QList<CRequestPush *>{new CRequestPushPost, new CRequestPushPut, new CRequestPushDel,
                                                     new CRequestPushGet}) {
            p->setHistory(record);
            requests.append(p);
        }
        requests.append(nullptr); // then signed in, but without a key
        for (CBaseRequest *r : requests) {
            if (!r) {
                signInLocally();
                r = new CPullRequest;
            }
            r->setBaseUrl(server->baseUrl());
            r->setPath("echo/");
            const Outcome out = run(r);
            QVERIFY(out.synchronous && !out.hadReply && !out.data.isValid());
            QCOMPARE(out.reports, 1);
        }
        QVERIFY(logText().contains("requet stop by key empty"));
        QCOMPARE(server->hits("/echo/"), 0);
    }

    // A sync takes every page the service has and keeps the newest entries of them all.
    // A service that always says "more": a sync stops after its page limit, or at once
    // when the cursor does not move. Either way it reports once.
    void pagingEndsOnItsOwn_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("cursor");
        QTest::newRow("cursor moves") << "pull-more/" << Zorvel::Net::kPullMaxPages << 100 + Zorvel::Net::kPullMaxPages;
        QTest::newRow("cursor stuck") << "pull-stuck/" << 1 << 100;
        QTest::newRow("two pages") << "pull-two/" << 2 << 102;
    }
    void pagingEndsOnItsOwn()
    {
        QFETCH(QString, path);
        QFETCH(int, pages);
        QFETCH(int, cursor);
        signInLocally();
        createKey();
        wipeStore();
        clipUtils::settings()->setValue("request_timestamp", "100");
        auto *pull = new CPullRequest;
        pull->setBaseUrl(server->baseUrl());
        pull->setPath(path);
        const int before = server->hits('/' + path);
        const Outcome out = run(pull);
        QCOMPARE(out.reports, 1);
        QCOMPARE(out.data.toInt(), 0);
        QCOMPARE(server->hits('/' + path) - before, pages);
        QCOMPARE(clipUtils::settings()->value("request_timestamp").toInt(), cursor);
        if (path == "pull-two/") {
            QCOMPARE(rows("where local_file_ok = 1"), 60);
            QVERIFY(stored(clipUtils::md5Hex("paged 79")).exists() && !stored(clipUtils::md5Hex("paged 19")).exists());
        }
    }

    void methodsAndHeaders_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("contentType"); // empty: not looked at
        QTest::newRow("POST") << "POST" << "application/octet-stream";
        QTest::newRow("PUT") << "PUT" << "<none>";
        QTest::newRow("DELETE") << "DELETE" << "";
        QTest::newRow("GET") << "GET" << "";
    }
    void methodsAndHeaders()
    {
        QFETCH(QString, method);
        QFETCH(QString, contentType);
        QCOMPARE(run(probe("echo/", method)).code(), 0);
        QCOMPARE(seen("method"), method);
        QCOMPARE(seen("user-agent"), QString("Windows Zorvel 1.0"));
        if (!contentType.isEmpty()) {
            QCOMPARE(seen("content-type"), contentType);
            QCOMPARE(seen("body"), QString("{\"probe\": 1}"));
        }
        QCOMPARE(parsed, 1);

        // An unknown method sends nothing but still reports once.
        const int before = server->hits("/echo/");
        const Outcome odd = run(probe("echo/", method.toLower()));
        QVERIFY(odd.synchronous && !odd.data.isValid());
        QCOMPARE(odd.reports, 1);
        QCOMPARE(server->hits("/echo/"), before);
    }

    // Each reports once, without data; what was parsed and logged tells the cases apart.
    void failuresYieldNoData_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status"); // 0: not looked at
        QTest::addColumn<int>("error");  // -1: any error
        QTest::addColumn<int>("parses");
        QTest::addColumn<QString>("logged");
        QTest::newRow("404") << "status404/" << 404 << -1 << 0 << "";
        QTest::newRow("500") << "status500/" << 500 << -1 << 0 << "";
        QTest::newRow("broken JSON") << "broken/" << 200 << 0 << 1 << "is not a JSON object";
        QTest::newRow("deep nesting") << "nested/" << 200 << 0 << 1 << "is not a JSON object";
        QTest::newRow("oversized") << "huge/" << 0 << int(QNetworkReply::OperationCanceledError) << 0 << "exceeds";
        QTest::newRow("redirect ping-pong") << "ping/" << 0 << 0 << 0 << "";
        QTest::newRow("untrusted peer") << "rogue" << 0 << int(QNetworkReply::SslHandshakeFailedError) << 0 << "";
    }
    void failuresYieldNoData()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(int, error);
        QFETCH(int, parses);
        QFETCH(QString, logged);
        std::unique_ptr<TlsTestServer> rogue;
        if (path == "rogue") {
            rogue = std::make_unique<TlsTestServer>(QDir::homePath() + "/tls", false);
            QVERIFY(rogue->isRunning());
        }
        const int logLines = logged.isEmpty() ? 0 : logText().count(logged);
        const Outcome out = run(rogue ? new ProbeRequest(rogue->baseUrl(), "echo/", "GET", &parsed) : probe(path));
        QCOMPARE(out.reports, 1);
        QVERIFY(!out.data.isValid());
        QCOMPARE(parsed, parses);
        if (status)
            QCOMPARE(out.status, status);
        QVERIFY(error < 0 ? out.error != QNetworkReply::NoError : out.error == error);
        if (!logged.isEmpty())
            QCOMPARE(logText().count(logged), logLines + 1);
        if (rogue)
            QCOMPARE(rogue->hits("/echo/"), 0);
        if (path == "ping/") // two targets taking turns are not "the same target twice": the hop limit ends it
            QCOMPARE(server->hits("/ping/") + server->hits("/pong/"), 9);
    }

    void redirects()
    {
        const Outcome loop = run(probe("loop/"));
        QCOMPARE(loop.reports, 1);
        QCOMPARE(server->hits("/loop/"), 2);
        QCOMPARE(loop.map().value("hits").toInt(), 2); // the second reply was taken as final
        QCOMPARE(parsed, 1);

        // A redirected POST is followed by a bare GET.
        const Outcome moved = run(probe("moved/", "POST"));
        QVERIFY(moved.map().value("landed").toBool());
        QCOMPARE(seen("method", "/moved/"), QString("POST"));
        QCOMPARE(seen("method", "/landing/"), QString("GET"));
        QVERIFY(seen("user-agent", "/landing/") != "Windows Zorvel 1.0");
        QVERIFY(seen("body", "/landing/").isEmpty());
    }

    // Whatever host the token names, the file goes only over https.
    void uploadGoesOnlyToAnHttpsHost_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("https") << "https";
        QTest::newRow("http") << "http";
    }
    void uploadGoesOnlyToAnHttpsHost()
    {
        QFETCH(QString, scheme);
        signInLocally();
        createKey();
        const QByteArray bytes = "uploaded over " + scheme.toUtf8();
        History h;
        h.setFileHash(clipUtils::md5Hex(bytes));
        h.setType("text_txt");
        h.setFileSize(bytes.size());
        QVERIFY(CFileManager::saveFile(bytes, h.file_hash()));
        auto *upload = new CRequestUploadFile;
        upload->setBaseUrl(server->baseUrl());
        upload->setHistory(h);
        upload->setFileHash(h.file_hash());
        upload->setFileId(scheme);
        QSignalSpy done(upload, &CBaseRequest::responseData);
        const int tokens = server->hits("/get_upload_token/");
        const int uploads = server->hits("/upload/");
        upload->startUpload();
        QVERIFY(done.wait(30000));
        QCOMPARE(server->hits("/get_upload_token/"), tokens + 1);
        QCOMPARE(server->hits("/upload/") - uploads, int(scheme == "https"));
        QCOMPARE(upload->reply() != nullptr, scheme == "https"); // nothing at all went to the http host
        delete upload;
    }
};

ZORVEL_TEST_MAIN(TestCBaseRequest)
#include "tst_CBaseRequest.moc"
