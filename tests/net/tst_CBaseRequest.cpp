// The request base against a loopback TLS endpoint (headers, statuses, redirects,
// bad bodies, an untrusted peer, paging, the upload host), and pull replies applied to
// the real store: deletions, clear time, new and known items, decryption, texts
// landing as files.
#include "support/TestMain.h"
#include "NetFixture.h"
#include "TlsTestServer.h"

#include "app/CFileManager.h"
#include "app/Constants.h"
#include "app/LogHandler.h"
#include "net/CClearHistoryRequest.h"
#include "net/CPullRequest.h"
#include "net/CRequestPushPost.h"

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

QVariantMap item(const QString &content, const QString &type = "text_txt", const QVariantMap &extra = {})
{
    QVariantMap map{{"content", content}, {"timestamp", 5000}, {"device_name", "other-box"}, {"type", type},
                    {"history_id", 700}, {"file_id", 800}, {"file_ready", true}, {"file_size", content.size()},
                    {"file_hash", clipUtils::md5Hex(content.toUtf8())}, {"file_name", QString()}, {"favourite", 0}};
    map.insert(extra);
    return map;
}

// An item encrypted under the current key; its hash stays that of `text`.
QVariantMap sealed(const QString &text, const QString &content)
{
    ZeroManager *zero = ZeroManager::instance();
    return item(text, "text_txt+enc", {{"content", zero->encryptText(content)}, {"key_hash", zero->keyHash()}});
}

QVariantMap reply(const QVariantList &histories) { return {{"code", 0}, {"histories", histories}}; }

QVariant apply(const QVariantMap &map) { return CPullRequest().parseResponse(QJsonDocument(QJsonObject::fromVariantMap(map)).toJson()); }

// A stored entry with the given history id and its file.
History storedEntry(int i, qint64 historyId, double timestamp, qint64 favourite = 0)
{
    History h;
    h.setContent(QString("stored %1").arg(i));
    h.setFileHash(clipUtils::md5Hex(h.content().toUtf8()));
    h.setTimeStamp(timestamp);
    h.setType("text_txt+enc");
    h.setHistoryId(historyId);
    h.setLocalFileOk(true);
    h.setFavourite(favourite);
    h.save();
    CFileManager::saveFile(h.content().toUtf8(), h.file_hash());
    return h;
}

bool hasFile(const QString &hash) { return QFile::exists(CFileManager::filesPath() + hash); }
QString hashOf(const QVariantMap &item) { return item.value("file_hash").toString(); }

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
        signInLocally();
        createKey();
    }

    void init()
    {
        parsed = 0;
        wipeStore();
        clipUtils::settings()->remove("request_timestamp");
    }

    // Signed out, or signed in without a key: refused before anything is sent, and
    // reported once before start() returns.
    void refusedRequestsReportOnceBeforeStartReturns()
    {
        ZeroManager::instance()->clearAllKeys();
        clipUtils::removeUserToken();
        for (bool signedIn : {false, true}) {
            if (signedIn)
                signInLocally();
            auto *push = new CRequestPushPost;
            push->setHistory(captureText("refused"));
            for (CBaseRequest *r : QList<CBaseRequest *>{new CPullRequest, push, new CClearHistoryRequest}) {
                r->setBaseUrl(server->baseUrl());
                r->setPath("echo/");
                const Outcome out = run(r);
                QVERIFY(out.synchronous && !out.hadReply && !out.data.isValid());
                QCOMPARE(out.reports, 1);
            }
        }
        QVERIFY(logText().contains("requet stop by key empty"));
        QCOMPARE(server->hits("/echo/"), 0);
        createKey();
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

    // The identity and the body's type go with a request; an unknown method sends
    // nothing but still reports once.
    void methodsAndHeaders()
    {
        QCOMPARE(run(probe("echo/", "POST")).code(), 0);
        QCOMPARE(seen("user-agent"), QString("Windows Zorvel 1.0"));
        QCOMPARE(seen("content-type"), QString("application/octet-stream"));
        QCOMPARE(seen("body"), QString("{\"probe\": 1}"));
        QCOMPARE(parsed, 1);

        const int before = server->hits("/echo/");
        const Outcome odd = run(probe("echo/", "post"));
        QVERIFY(odd.synchronous && !odd.data.isValid());
        QCOMPARE(odd.reports, 1);
        QCOMPARE(server->hits("/echo/"), before);
    }

    // Each reports once, without data; what was parsed and logged tells the cases apart.
    void failuresYieldNoData_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("error"); // -1: any error
        QTest::addColumn<int>("parses");
        QTest::addColumn<QString>("logged");
        QTest::newRow("404") << "status404/" << -1 << 0 << "";
        QTest::newRow("broken JSON") << "broken/" << 0 << 1 << "is not a JSON object";
        QTest::newRow("deep nesting") << "nested/" << 0 << 1 << "is not a JSON object";
        QTest::newRow("oversized") << "huge/" << int(QNetworkReply::OperationCanceledError) << 0 << "exceeds";
        QTest::newRow("redirect ping-pong") << "ping/" << 0 << 0 << "";
        QTest::newRow("untrusted peer") << "rogue" << int(QNetworkReply::SslHandshakeFailedError) << 0 << "";
    }
    void failuresYieldNoData()
    {
        QFETCH(QString, path);
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
        QVERIFY(error < 0 ? out.error != QNetworkReply::NoError : out.error == error);
        if (!logged.isEmpty())
            QCOMPARE(logText().count(logged), logLines + 1);
        if (rogue)
            QCOMPARE(rogue->hits("/echo/"), 0);
        if (path == "ping/") // two targets taking turns are not "the same target twice": the hop limit ends it
            QCOMPARE(server->hits("/ping/") + server->hits("/pong/"), 9);
    }

    // Whatever host the token names, the file goes only over https.
    void uploadGoesOnlyToAnHttpsHost()
    {
        for (const QString &scheme : {QString("https"), QString("http")}) {
            const QByteArray bytes = "uploaded over " + scheme.toUtf8();
            History h;
            h.setFileHash(clipUtils::md5Hex(bytes));
            h.setType("text_txt");
            h.setFileSize(bytes.size());
            QVERIFY(CFileManager::saveFile(bytes, h.file_hash()));
            const int tokens = server->hits("/get_upload_token/");
            const int uploads = server->hits("/upload/");
            const Outcome out = upload(h, scheme, server->baseUrl());
            QCOMPARE(out.reports, 1);
            QCOMPARE(server->hits("/get_upload_token/"), tokens + 1);
            QCOMPARE(server->hits("/upload/") - uploads, int(scheme == "https"));
            QCOMPARE(out.hadReply, scheme == "https"); // nothing at all went to the http host
        }
    }

    void failuresChangeNothing()
    {
        storedEntry(1, 11, 1000);
        const QVariantList items{item("never")};
        QCOMPARE(apply({{"code", 3}, {"request_timestamp", 777}, {"histories", items}}).toInt(), 3);
        QVERIFY(!apply({{"histories", items}}).isValid()); // no code
        QVERIFY(!CPullRequest().parseResponse("not json").isValid());
        QCOMPARE(rows(), 1);
        QVERIFY(!clipUtils::settings()->contains("request_timestamp"));

        apply({{"code", 0}, {"request_timestamp", "99999999999"}});
        QCOMPARE(CPullRequest().lastRequestTimestamp(), 0); // out of range: a full pull next time
    }

    void deletionsAndClearTime()
    {
        const History a = storedEntry(1, 11, 1000);
        const History b = storedEntry(2, 12, 1001);
        const History c = storedEntry(3, 13, 1002);
        const History local = storedEntry(4, 0, 1003); // never uploaded
        const auto del = [](const QString &action, const QVariant &id) {
            return QVariantMap{{"action", action}, {"history_id", id}};
        };
        const QVariantList actions = {del("del", 11), del("DEL", "12"), del("delete", 13), del("del", 0),
                                      QVariantMap{{"action", "del"}}, del("del", "13 or 1=1")};
        QCOMPARE(apply({{"code", 0}, {"action", actions}}).toInt(), 0);
        QVERIFY(!a.exists() && !b.exists() && !hasFile(a.file_hash()));
        QVERIFY(c.exists());
        QVERIFY(local.exists() && hasFile(local.file_hash())); // id 0 or a missing id deletes nothing

        // The clear time spares favourites and newer entries.
        const History favourite = storedEntry(5, 15, 1000, 1500);
        const History recent = storedEntry(6, 16, 3000);
        apply({{"code", 0}, {"clear_all_ts", 2000}});
        QVERIFY(!c.exists() && !hasFile(c.file_hash()));
        QVERIFY(favourite.exists() && recent.exists());
    }

    void knownItemKeepsContentButTakesServiceFields()
    {
        History local = storedEntry(1, 0, 4000);
        local.markChanged();
        QVariantMap known = item("different content", "text_txt+enc",
                                 {{"timestamp", 4500}, {"file_hash", local.file_hash()}, {"key_hash", "k1"}, {"file_name", "n.txt"}});
        apply(reply({known}));
        History after = stored(local.file_hash());
        QCOMPARE(after.content(), local.content());
        QCOMPARE(QVariantList({after.history_id(), after.file_id(), after.file_ready(), after.key_hash(), after.file_name()}),
                 QVariantList({700, 800, true, "k1", "n.txt"}));
        QCOMPARE(after.timeStamp(), 4500.0);
        QCOMPARE(after.change_timestamp(), local.change_timestamp()); // the pending mark stays

        known.insert("timestamp", 4100); // older than stored: time kept
        known.remove("key_hash");
        apply(reply({known}));
        after = stored(local.file_hash());
        QCOMPARE(after.timeStamp(), 4500.0);
        QVERIFY(after.key_hash().isNull());
        QCOMPARE(rows(), 1);
    }

    void newItemsByEncryptionState()
    {
        const QVariantMap oldKey = sealed("only for the old key", "only for the old key");
        createKey();
        const QString secret = "密文 ciphered text";
        const QString plain = "plain text";
        const QVariantMap encNoKey = item("enc without key hash", "text_txt+enc");
        const QVariantMap keyNoEnc = item("key hash without enc", "text_txt", {{"key_hash", ZeroManager::instance()->keyHash()}});
        const QVariantMap image = item("thumbnail", "image_tiff+zip", {{"file_hash", clipUtils::md5Hex("the tiff bytes")}});
        // A long text travels as its preview; another entry's ciphertext (valid under
        // the key) handed out under this entry's hash is neither the text nor a preview of it.
        const QString longText = "a long text\n\nwhose preview is all that travels with it in the item";
        const QVariantMap preview = sealed(longText, clipUtils::previewText(longText));
        const QVariantMap swapped = sealed("this entry's own text", "another-entry's-text");

        QCOMPARE(apply(reply({sealed(secret, secret), item(plain), encNoKey, keyNoEnc, image, preview, swapped, oldKey})).toInt(), 0);

        QCOMPARE(rows(), 4); // the four below: the others are dropped
        QVERIFY(!hasFile(hashOf(encNoKey)));
        History got = stored(clipUtils::md5Hex(secret.toUtf8()));
        QCOMPARE(got.content(), secret);
        QVERIFY(got.local_file_ok() && CFileManager::readFile(got.file_hash()) == secret.toUtf8());
        QCOMPARE(got.change_timestamp(), 0.0);
        got = stored(clipUtils::md5Hex(plain.toUtf8()));
        QCOMPARE(got.content(), plain);
        QVERIFY(got.local_file_ok() && hasFile(got.file_hash()));
        got = stored(hashOf(image));
        QVERIFY(got.exists() && !got.local_file_ok() && !hasFile(got.file_hash())); // its file comes with the file service
        got = stored(hashOf(preview));
        QCOMPARE(got.content(), clipUtils::previewText(longText));
        QVERIFY(!got.local_file_ok());
    }

    void itemsWithBadHashesAreSkipped()
    {
        const QVariantMap traversal = item("x", "text_txt", {{"file_hash", "../../../../tmp/zorvel-evil"}});
        const QVariantMap upper = item("y", "text_txt", {{"file_hash", clipUtils::md5Hex("y").toUpper()}});
        const QVariantMap quote = item("z", "text_txt", {{"file_hash", "' or 1=1 --"}});
        const int files = QDir(CFileManager::filesPath()).entryList(QDir::Files).size();
        QCOMPARE(apply(reply({traversal, upper, quote, item("good")})).toInt(), 0);
        QCOMPARE(rows(), 1);
        QVERIFY(!QFile::exists("/tmp/zorvel-evil"));
        QCOMPARE(QDir(CFileManager::filesPath()).entryList(QDir::Files).size(), files + 1);
    }
};

ZORVEL_TEST_MAIN(TestCBaseRequest)
#include "tst_CBaseRequest.moc"
