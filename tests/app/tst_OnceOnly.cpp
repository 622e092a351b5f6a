#include "support/TestMain.h"

#include "app/OnceOnly.h"

#include <QThread>
#include <atomic>

namespace {
std::atomic<int> constructions{0};

class SlowManager
{
    ZORVEL_ONCE_ONLY(SlowManager)
    SlowManager()
    {
        ++constructions;
        QThread::msleep(50); // widen the window in which other threads arrive
    }
};
} // namespace

class TestOnceOnly : public QObject
{
    Q_OBJECT

private slots:
    void concurrentFirstCallsConstructOnce()
    {
        const int threads = 8;
        std::atomic<bool> go{false};
        QVector<SlowManager *> seen(threads, nullptr);
        QList<QThread *> workers;
        for (int i = 0; i < threads; ++i) {
            workers << QThread::create([&, i] {
                while (!go.load())
                    QThread::yieldCurrentThread();
                seen[i] = SlowManager::instance();
            });
            workers.last()->start();
        }
        go = true;
        for (QThread *t : workers) {
            QVERIFY(t->wait(10000));
            delete t;
        }
        QCOMPARE(constructions.load(), 1);
        for (SlowManager *p : seen)
            QCOMPARE(p, SlowManager::instance());
    }
};

ZORVEL_TEST_MAIN(TestOnceOnly)
#include "tst_OnceOnly.moc"
