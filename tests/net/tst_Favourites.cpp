// Favourites against the real service: merges by absolute mark, when -4 deletes, and the chain
// that posts a favourite the service has never seen.
#include "support/TestMain.h"
#include "NetFixture.h"

#include "net/CRequestGetFavourite.h"
#include "net/CRequestPushDel.h"
#include "net/CRequestPushPost.h"
#include "net/CRequestSetFavourite.h"
#include "net/FavouriteService.h"
#include "store/HistoryQueries.h"

#include <QtTest>

using namespace NetFixture;

class TestFavourites : public QObject
{
    Q_OBJECT

    // A favourite marked at `mark`: history row and favourite row, pending.
    History favourite(const QString &text, qint64 mark)
    {
        History h = captureText(text);
        h.setFavourite(mark);
        h.save();
        h.setCategory(QStringLiteral("favourite"));
        h.save();
        h.markChanged();
        return stored(h.file_hash(), QStringLiteral("favourite"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(DBFetcher::instance()->isOpen());
        const QString email = uniqueEmail();
        QCOMPARE(signUp(email, QStringLiteral("pw")).code(), 0);
        QCOMPARE(signIn(email, QStringLiteral("pw")).code(), 0);
        createKey();
    }

    void newFavouriteIsPostedThenUnmarkedElsewhere()
    {
        const qint64 now = clipUtils::currentTime();
        const History fav = favourite(QStringLiteral("favourite text"), now);
        QCOMPARE(run(new CRequestGetFavourite).code(), 0);
        // history_id 0: the chain sent it as a push POST.
        QTRY_VERIFY_WITH_TIMEOUT(stored(fav.file_hash(), QStringLiteral("favourite")).history_id() > 0, 10000);
        QTRY_VERIFY(!FavouriteService::instance()->isBusy());

        // Equal mark from the service: nothing changes.
        History same = stored(fav.file_hash(), QStringLiteral("favourite"));
        auto *equal = new CRequestSetFavourite;
        equal->setHistory(same);
        QCOMPARE(run(equal).code(), 0);
        QVERIFY(HistoryQueries::exists(fav.file_hash(), QStringLiteral("favourite")));

        // An unmark 100 s later wins by absolute mark: the merge of the reply removes the
        // favourite row and zeroes the marks of the hash.
        History other = same;
        other.setFavourite(-(now + 100));
        other.setCategory(QStringLiteral("history"));
        auto *unmark = new CRequestSetFavourite;
        unmark->setHistory(other);
        QSqlQuery(QStringLiteral("update History set favourite = ") + QString::number(now)).exec();
        const Outcome sent = run(unmark);
        QCOMPARE(sent.code(), 0);
        QVERIFY(!HistoryQueries::exists(fav.file_hash(), QStringLiteral("favourite")));
        QCOMPARE(stored(fav.file_hash()).favourite(), qint64(0));
    }

    // -4 drops the rows only of an entry that had been on the service and was deleted
    // there; an entry the service never received keeps its rows.
    void onlyADeletionOnTheServiceRemovesRows_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("kept");
        QTest::newRow("never uploaded") << "never" << -10 << true;
        QTest::newRow("id the service never gave") << "foreign id" << -10 << true;
        QTest::newRow("deleted on the service") << "deleted" << -4 << false;
    }
    void onlyADeletionOnTheServiceRemovesRows()
    {
        QFETCH(QString, kind);
        QFETCH(int, code);
        QFETCH(bool, kept);
        History fav = favourite(QStringLiteral("favourite, ") + kind, clipUtils::currentTime());
        if (kind == QLatin1String("foreign id")) {
            fav.setHistoryId(987654321);
        } else if (kind == QLatin1String("deleted")) {
            auto *post = new CRequestPushPost;
            post->setHistory(fav);
            QCOMPARE(run(post).data.toInt(), 0);
            fav = stored(fav.file_hash(), QStringLiteral("favourite"));
            QVERIFY(fav.history_id() > 0);
            auto *del = new CRequestPushDel;
            del->setHistory(fav);
            QCOMPARE(run(del).code(), 0);
        }
        auto *request = new CRequestSetFavourite;
        request->setHistory(fav);
        QCOMPARE(run(request).data.toInt(), code);
        QCOMPARE(rows(QStringLiteral("where file_hash = '") + fav.file_hash() + QLatin1Char('\'')), kept ? 2 : 0);
    }
};

ZORVEL_TEST_MAIN(TestFavourites)
#include "tst_Favourites.moc"
