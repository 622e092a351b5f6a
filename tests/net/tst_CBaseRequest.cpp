// The request base against a loopback TLS endpoint (headers, statuses, redirects,
// bad bodies, an untrusted peer) and against the local service (build CA).
#include "support/TestMain.h"
#include "NetFixture.h"
#include "TlsTestServer.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/LogHandler.h"
#include "net/CClearHistoryRequest.h"
#include "net/CInitRequest.h"
#include "net/CPullRequest.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestPushGet.h"
#include "net/CRequestPushPost.h"
#include "net/CRequestPushPut.h"

#include <QFile>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>

#include <csignal>

using namespace NetFixture;

namespace {

// A request aimed at the test endpoint that counts how often its parser ran.
class ProbeRequest : public CBaseRequest
{
public:
    ProbeRequest(const QString &base, const QString &path, const QString &method = QStringLiteral("GET"))
    {
        setBaseUrl(base);
        setPath(path);
        setMethod(method);
    }
    void buildUrl() override { setUrl(fullUrl()); }
    void buildBody() override { setBody(QByteArrayLiteral("{\"probe\": 1}")); }
    bool canContinue() override { return true; }
    QVariant parseResponse(const QByteArray &body) override
    {
        ++(*parsed);
        QJsonObject object;
        return parseObject(body, &object) ? QVariant(object.toVariantMap()) : QVariant();
    }
    int *parsed = nullptr;
};

QString logText()
{
    QFile f(CFileManager::rootPath() + QStringLiteral("/log.txt"));
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

} // namespace

class TestCBaseRequest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TlsTestServer> server;
    int parsed = 0;

    ProbeRequest *probe(const QString &path, const QString &method = QStringLiteral("GET"))
    {
        auto *r = new ProbeRequest(server->baseUrl(), path, method);
        r->parsed = &parsed;
        return r;
    }

    void signInLocally()
    {
        clipUtils::settings()->setValue(QStringLiteral("user_id"), QStringLiteral("7"));
        clipUtils::settings()->setValue(QStringLiteral("user_token"), QStringLiteral("local-token"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The endpoint writes into connections the client aborted.
        std::signal(SIGPIPE, SIG_IGN);
        qInstallMessageHandler(logMessageHandler);
        QVERIFY(DBFetcher::instance()->isOpen());
        server = std::make_unique<TlsTestServer>(QDir::homePath() + QStringLiteral("/tls"));
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
        const QString expected = QStringLiteral("?version=2.1.15&device_token=") + clipUtils::deviceToken()
            + QStringLiteral("&device_type=") + clipUtils::platformName() + QStringLiteral("&encrypt=1");
        QCOMPARE(plain.commonQuery(), expected);
        QVERIFY(plain.deviceType().startsWith(QLatin1String("linux_")));

        createKey();
        ZeroManager *zero = ZeroManager::instance();
        QVERIFY(!zero->keyHash().isEmpty());
        QCOMPARE(plain.commonQuery(), expected + QStringLiteral("&key_hash=") + zero->keyHash()
                     + QStringLiteral("&cipher_hash=") + zero->cipherHash());
        QCOMPARE(plain.fullUrl(), plain.baseUrl() + plain.commonQuery());
        QCOMPARE(plain.baseUrl(), QStringLiteral(ZORVEL_TEST_API_BASE_URL));
    }

    void membersAreSnapshotsOfConstruction()
    {
        signInLocally();
        CPullRequest pull;
        clipUtils::settings()->setValue(QStringLiteral("user_token"), QStringLiteral("someone-else"));
        pull.buildUrl();
        QCOMPARE(pull.userToken(), QStringLiteral("local-token"));
        QVERIFY(pull.url().endsWith(QLatin1String("&user_token=local-token")));
        QVERIFY(pull.url().contains(QLatin1String("&last_request_timestamp=0&")));
    }

    void refusedRequestsReportOnceBeforeStartReturns()
    {
        History record = captureText(QStringLiteral("refused"));
        record.setHistoryId(5);
        const QList<CRequestPush *> pushes = {new CRequestPushPost, new CRequestPushPut, new CRequestPushDel,
                                              new CRequestPushGet};
        QList<CBaseRequest *> requests = {new CPullRequest, new CClearHistoryRequest};
        for (CRequestPush *p : pushes) {
            p->setHistory(record);
            requests.append(p);
        }
        for (CBaseRequest *r : requests) {
            r->setBaseUrl(server->baseUrl());
            r->setPath(QStringLiteral("echo/"));
            const Outcome out = run(r);
            QVERIFY(out.synchronous);
            QCOMPARE(out.reports, 1);
            QVERIFY(!out.data.isValid());
            QVERIFY(!out.hadReply);
        }

        // Signed in but without a key: refused too, with the log line.
        signInLocally();
        auto *pull = new CPullRequest;
        pull->setBaseUrl(server->baseUrl());
        pull->setPath(QStringLiteral("echo/"));
        const Outcome keyless = run(pull);
        QVERIFY(keyless.synchronous);
        QVERIFY(!keyless.data.isValid());
        QVERIFY(logText().contains(QLatin1String("requet stop by key empty")));

        // A request that is allowed reaches the endpoint; none of the refused did.
        QCOMPARE(run(probe(QStringLiteral("echo/"))).code(), 0);
        QCOMPARE(server->hits(QStringLiteral("/echo/")), 1);
    }

    // A service that always says "more": a sync stops after its page limit, or at once
    // when the cursor does not move; either way it reports once.
    void pagingEndsOnItsOwn_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("pages");
        QTest::newRow("cursor moves") << "pull-more/" << Zorvel::Net::kPullMaxPages;
        QTest::newRow("cursor stuck") << "pull-stuck/" << 1;
    }
    void pagingEndsOnItsOwn()
    {
        QFETCH(QString, path);
        QFETCH(int, pages);
        signInLocally();
        createKey();
        clipUtils::settings()->setValue(QStringLiteral("request_timestamp"), QStringLiteral("100"));
        auto *pull = new CPullRequest;
        pull->setBaseUrl(server->baseUrl());
        pull->setPath(path);
        const int before = server->hits(QLatin1Char('/') + path);
        const Outcome out = run(pull);
        QCOMPARE(out.reports, 1);
        QCOMPARE(out.data.toInt(), 0);
        QCOMPARE(server->hits(QLatin1Char('/') + path) - before, pages);
        QCOMPARE(clipUtils::settings()->value(QStringLiteral("request_timestamp")).toString(),
                 QString::number(100 + (path == QLatin1String("pull-more/") ? pages : 0)));
    }

    void methodsAndHeaders()
    {
        QCOMPARE(run(probe(QStringLiteral("echo/"), QStringLiteral("POST"))).code(), 0);
        QVariantMap seen = server->last(QStringLiteral("/echo/"));
        QCOMPARE(seen.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
        QCOMPARE(seen.value(QStringLiteral("content-type")).toString(), QStringLiteral("application/octet-stream"));
        QCOMPARE(seen.value(QStringLiteral("user-agent")).toString(), QStringLiteral("Windows Zorvel 1.0"));
        QCOMPARE(seen.value(QStringLiteral("body")).toString(), QStringLiteral("{\"probe\": 1}"));

        QCOMPARE(run(probe(QStringLiteral("echo/"), QStringLiteral("PUT"))).code(), 0);
        seen = server->last(QStringLiteral("/echo/"));
        QCOMPARE(seen.value(QStringLiteral("method")).toString(), QStringLiteral("PUT"));
        QCOMPARE(seen.value(QStringLiteral("content-type")).toString(), QStringLiteral("<none>"));
        QCOMPARE(seen.value(QStringLiteral("body")).toString(), QStringLiteral("{\"probe\": 1}"));

        QCOMPARE(run(probe(QStringLiteral("echo/"), QStringLiteral("DELETE"))).code(), 0);
        QCOMPARE(server->last(QStringLiteral("/echo/")).value(QStringLiteral("method")).toString(),
                 QStringLiteral("DELETE"));
        QCOMPARE(run(probe(QStringLiteral("echo/"))).code(), 0);
        seen = server->last(QStringLiteral("/echo/"));
        QCOMPARE(seen.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
        QCOMPARE(seen.value(QStringLiteral("user-agent")).toString(), QStringLiteral("Windows Zorvel 1.0"));
        QCOMPARE(parsed, 4);

        // An unknown method sends nothing but still reports once.
        const int before = server->hits(QStringLiteral("/echo/"));
        const Outcome odd = run(probe(QStringLiteral("echo/"), QStringLiteral("get")));
        QVERIFY(odd.synchronous);
        QCOMPARE(odd.reports, 1);
        QVERIFY(!odd.data.isValid());
        QCOMPARE(run(probe(QStringLiteral("echo/"))).code(), 0);
        QCOMPARE(server->hits(QStringLiteral("/echo/")), before + 1);
    }

    void errorStatusBodiesAreNeverParsed()
    {
        for (int status : {404, 500}) {
            const Outcome out = run(probe(QStringLiteral("status%1/").arg(status)));
            QCOMPARE(out.reports, 1);
            QVERIFY(!out.data.isValid());
            QCOMPARE(out.status, status);
            QVERIFY(out.error != QNetworkReply::NoError);
        }
        QCOMPARE(parsed, 0);
    }

    void redirectToTheSameTargetStopsTheChain()
    {
        const Outcome out = run(probe(QStringLiteral("loop/")));
        QCOMPARE(out.reports, 1);
        QCOMPARE(server->hits(QStringLiteral("/loop/")), 2);
        QCOMPARE(out.map().value(QStringLiteral("hits")).toInt(), 2); // the second reply was parsed
        QCOMPARE(parsed, 1);

        // Two targets taking turns are not "the same target twice": the hop limit ends it.
        const Outcome pingPong = run(probe(QStringLiteral("ping/")));
        QCOMPARE(pingPong.reports, 1);
        QVERIFY(!pingPong.data.isValid());
        QCOMPARE(server->hits(QStringLiteral("/ping/")) + server->hits(QStringLiteral("/pong/")), 9);
        QCOMPARE(parsed, 1);
    }

    void redirectedPostIsFollowedByABareGet()
    {
        const Outcome out = run(probe(QStringLiteral("moved/"), QStringLiteral("POST")));
        QCOMPARE(out.reports, 1);
        QVERIFY(out.map().value(QStringLiteral("landed")).toBool());
        QCOMPARE(server->last(QStringLiteral("/moved/")).value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
        const QVariantMap landing = server->last(QStringLiteral("/landing/"));
        QCOMPARE(landing.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
        QVERIFY(landing.value(QStringLiteral("user-agent")).toString() != QLatin1String("Windows Zorvel 1.0"));
        QVERIFY(landing.value(QStringLiteral("body")).toString().isEmpty());
    }

    void badBodiesYieldNoDataAndOneLogLine()
    {
        for (const char *path : {"broken/", "nested/"}) {
            const int before = logText().count(QLatin1String("is not a JSON object"));
            const Outcome out = run(probe(QLatin1String(path)));
            QCOMPARE(out.reports, 1);
            QVERIFY(out.hadReply);
            QVERIFY(!out.data.isValid());
            QCOMPARE(logText().count(QLatin1String("is not a JSON object")), before + 1);
        }

        const Outcome huge = run(probe(QStringLiteral("huge/")));
        QCOMPARE(huge.reports, 1);
        QVERIFY(!huge.data.isValid());
        QCOMPARE(huge.error, QNetworkReply::OperationCanceledError);
        QCOMPARE(logText().count(QLatin1String("exceeds")), 1);
        QCOMPARE(parsed, 2);
    }

    void untrustedPeerIsRefused()
    {
        TlsTestServer rogue(QDir::homePath() + QStringLiteral("/tls"), false);
        QVERIFY(rogue.isRunning());
        auto *r = new ProbeRequest(rogue.baseUrl(), QStringLiteral("echo/"));
        r->parsed = &parsed;
        const Outcome out = run(r);
        QCOMPARE(out.reports, 1);
        QVERIFY(!out.data.isValid());
        QCOMPARE(out.error, QNetworkReply::SslHandshakeFailedError);
        QCOMPARE(rogue.hits(QStringLiteral("/echo/")), 0);
        QCOMPARE(parsed, 0);
    }

    void localServiceIsTrustedThroughTheBuildCa()
    {
        const Outcome out = run(new CInitRequest);
        QVERIFY2(out.hadReply && out.error == QNetworkReply::NoError,
                 "the local service must run (scripts/services start <build>)");
        QCOMPARE(out.status, 200);
        QVERIFY(out.data.isValid());
        QCOMPARE(clipUtils::settings()->value(QStringLiteral("server_public_key")).toByteArray().size(), 32);
    }
};

ZORVEL_TEST_MAIN(TestCBaseRequest)
#include "tst_CBaseRequest.moc"
