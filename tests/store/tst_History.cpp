#include "support/TestMain.h"

#include "store/History.h"

// The record itself: defaults, the key-hash rule and the map conversions.
class TestHistory : public QObject
{
    Q_OBJECT

    static History full()
    {
        History h;
        h.setContent(QStringLiteral("内容"));
        h.setTimeStamp(1700000000);
        h.setDeviceName(QStringLiteral("host"));
        h.setFileHash(QStringLiteral("0123456789abcdef0123456789abcdef"));
        h.setType(QStringLiteral("text_txt+enc"));
        h.setHistoryId(Q_INT64_C(9007199254740993));
        h.setFileId(77);
        h.setFileReady(true);
        h.setFileName(QStringLiteral("a.txt"));
        h.setLocalFileOk(true);
        h.setFileSize(12);
        h.setSecert(true);
        h.setCategory(QStringLiteral("favourite"));
        h.setFavourite(-1700000001);
        h.setKeyHash(QStringLiteral("ffffffffffffffffffffffffffffffff"));
        return h;
    }

private slots:
    void keyHashRule()
    {
        History h;
        QCOMPARE(h.category(), QStringLiteral("history"));
        QVERIFY(h.isEmpty() && h.favourite() == 0);
        QVERIFY(h.key_hash().isNull() && h.cipherHash().isNull());

        h = full();
        QCOMPARE(h.cipherHash(), QStringLiteral("aae1c604d097d2998468ab81d6b53331")); // md5("<file hash>+<key hash>")
        h.setKeyHash(QString(""));
        QVERIFY(h.key_hash().isNull() && h.cipherHash().isNull());
        QVERIFY(!h.toMap().contains(QStringLiteral("key_hash")));
        QVERIFY(!h.toPushMap().contains(QStringLiteral("key_hash")));
    }

    void fullMapRoundTrip()
    {
        const History h = full();
        const History back = History::fromMap(h.toMap());
        QCOMPARE(back.toMap(), h.toMap());
        QCOMPARE(back.history_id(), h.history_id()); // beyond 2^53 stays exact
        QCOMPARE(back.favourite(), h.favourite());
        QCOMPARE(back.secert(), true);
    }

    void pushMapCarriesOnlyWhatTheServiceTakes()
    {
        const QVariantMap push = full().toPushMap();
        QCOMPARE(push.keys().size(), 9);
        QVERIFY(!push.contains(QStringLiteral("secert")));
        QVERIFY(!push.contains(QStringLiteral("history_id")));
        QCOMPARE(push.value(QStringLiteral("device_name")).toString(), QStringLiteral("host"));
    }

    void serviceItemLeavesLocalFieldsAtDefaults()
    {
        QVariantMap item = full().toMap();
        item.insert(QStringLiteral("history_id"), QStringLiteral("123")); // ids may arrive as text
        const History h = History::fromServiceItem(item);
        QCOMPARE(h.history_id(), 123);
        QCOMPARE(h.category(), QStringLiteral("history"));
        QVERIFY(!h.secert());
        QVERIFY(!h.local_file_ok());
        QCOMPARE(h.key_hash(), QStringLiteral("ffffffffffffffffffffffffffffffff"));
    }
};

ZORVEL_TEST_MAIN(TestHistory)
#include "tst_History.moc"
