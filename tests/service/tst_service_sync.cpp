// History sync against a real service: push POST/PUT/DELETE/GET, pull increments,
// clearing and the favourites merge, with notifications seen by a real subscriber.

#include "ServiceTestSupport.h"
#include "support/TestMain.h"

#include "Codec.h"
#include "ServiceConstants.h"
#include "SqliteConnection.h"

#include <QTest>

#include <set>

using namespace ServiceTest;

namespace {

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

class TestServiceSync : public QObject {
    Q_OBJECT

private slots:
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

        // Entries are per user.
        ApiClient b(service, "erin@example.com");
        QCOMPARE(b.get("push/", "&history_id=" + id).code(), -10);
        QCOMPARE(b.del("push/", "&history_id=" + id).body["deleted"].get<int>(), 0);
        QCOMPARE(a.get("push/", "&history_id=" + id).code(), 0);
    }

    void pullReturnsOnlyChangesSince()
    {
        TestService service;
        QTRY_VERIFY_WITH_TIMEOUT(service.brokerConnected(), 10000);
        ApiClient a(service, "fay@example.com");
        Subscriber subscriber(a);
        QTRY_VERIFY_WITH_TIMEOUT(subscriber.ready(), 10000);

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

        // A deletion arrives as a "del" action and is announced with the deleting device.
        for (int twice = 0; twice < 2; ++twice)
            QCOMPARE(a.del("push/", "&history_id=" + idOf(one)).code(), 0);
        pull = a.get("pull/", since(pull));
        QVERIFY(pull.body["histories"].empty());
        QVERIFY(pull.body["action"] == json::array({{{"action", "del"}, {"history_id", one["history_id"]}}}));
        QTRY_VERIFY_WITH_TIMEOUT(!subscriber.find("history_delete", md5Hex("one"), a.deviceToken).is_null(), 10000);
        QVERIFY(subscriber.find("history_delete", md5Hex("one"), a.deviceToken)["data"]["key_hash"] == "");

        // Clearing removes non-favourites only and tells pulls and subscribers when.
        const Reply cleared = a.get("clear_history/");
        QCOMPARE(cleared.code(), 0);
        QCOMPARE(cleared.body["count"].get<int>(), 1);
        pull = a.get("pull/", since(pull));
        QVERIFY(pull.body["clear_all_ts"].get<std::int64_t>() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!subscriber.find("history_clear", {}, a.deviceToken).is_null(), 10000);
        QVERIFY(subscriber.find("history_clear", {}, a.deviceToken)["data"]["timestamp"] == pull.body["clear_all_ts"]);
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

    // A file of the service from before schema versions, with its shared revision
    // clock ahead of the wall clock: clients keep their place after the upgrade.
    void olderDatabaseKeepsItsClock()
    {
        if (TestDatabase::isPostgres())
            QSKIP("a former SQLite file");
        const std::int64_t clock = ZorvelService::Codec::now() + 100000;
        const std::string token(64, 'c');
        TestService service([&](const std::string &dataDir) {
            ZorvelService::SqliteConnection db(dataDir + "/service.db");
            db.exec("CREATE TABLE counters (name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
                    "CREATE TABLE users (id INTEGER PRIMARY KEY AUTOINCREMENT, email TEXT NOT NULL UNIQUE COLLATE NOCASE,"
                    " verifier TEXT NOT NULL, created INTEGER NOT NULL, clear_ts INTEGER NOT NULL DEFAULT 0,"
                    " clear_rev INTEGER NOT NULL DEFAULT 0);"
                    "CREATE TABLE tokens (digest TEXT PRIMARY KEY, user_id INTEGER NOT NULL, expires INTEGER NOT NULL);"
                    "INSERT INTO users(email, verifier, created) VALUES ('Old@Example.com', 'x', 1);"
                    "INSERT INTO counters VALUES ('file_id', 7), ('revision', " + std::to_string(clock) + ");"
                    "INSERT INTO tokens VALUES ('" + ZorvelService::Codec::tokenDigest(token) + "', 1, 9999999999);");
        });
        ApiClient a(service);
        a.userToken = token;
        const std::string next = std::to_string(clock + 1);
        QCOMPARE(a.get("pull/", "&last_request_timestamp=" + next).body["request_timestamp"].get<std::int64_t>(), clock + 1);
        QCOMPARE(a.pushText("after the upgrade")["file_id"].get<std::int64_t>(), std::int64_t(8));
        QCOMPARE(a.get("pull/", "&last_request_timestamp=" + next).body["histories"].size(), size_t(1));
        QCOMPARE(a.get("register/", "&username=old@example.COM&pwd_hash=" + md5Hex("x") + "&device_name=h").code(), 1001);
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

    void contentUnderAnotherKey()
    {
        TestService service;
        ApiClient a(service, "ida@example.com");
        const TestKey key = makeKey("k1k1k1k1k1k1k1k1k1k1k1k1k1k1k1k1", "1234");
        QCOMPARE(a.put("key/", json {{"key_dict", key.dict}}.dump()).code(), 0);

        const Reply stale = a.post("push/", history(textItem("secret", 0, 1000, "otherkeyotherkeyotherkeyotherkey")));
        QCOMPARE(stale.code(), -6);
        QVERIFY(stale.body["cipher"]["key_hash"] == key.dict["key_hash"]);
        QVERIFY(stale.body["cipher"]["cipher_hash"] == key.dict["cipher_hash"]);
        const Reply stored = a.post("push/", history(textItem("secret", 0, 1000, key.dict["key_hash"])));
        QCOMPARE(stored.code(), 0);
        QVERIFY(stored.body["history"]["key_hash"] == key.dict["key_hash"]);

        // A PUT for a copy under another key is not the entry the service holds.
        json update = textItem("secret", 0, 1000, "otherkeyotherkeyotherkeyotherkey");
        update.erase("content");
        QCOMPARE(a.put("push/", history(update)).code(), -10);
    }
};

ZORVEL_TEST_MAIN(TestServiceSync)
#include "tst_service_sync.moc"
