#include "support/TestMain.h"

#include "app/OnceOnly.h"

#include <QThread>
#include <QVector>

#include <atomic>
#include <chrono>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

void spinFor(std::chrono::microseconds pause)
{
    const auto until = Clock::now() + pause;
    while (Clock::now() < until)
        QThread::yieldCurrentThread();
}

// One fresh single object per trial: its constructor runs long enough that the
// staggered callers arrive before, during and right after it finishes.
template <int N>
class Probe
{
    ZORVEL_ONCE_ONLY(Probe)
    Probe()
    {
        ++constructions;
        spinFor(std::chrono::microseconds(300));
    }

public:
    static inline std::atomic<int> constructions{0};
};

constexpr int kThreads = 8;

// Releases kThreads callers at once, each after its own short delay, and checks
// that exactly one object was built and everybody got it.
template <int N>
bool raceOnce()
{
    std::atomic<int> waiting{kThreads};
    QVector<Probe<N> *> seen(kThreads, nullptr);
    QVector<QThread *> workers;
    for (int i = 0; i < kThreads; ++i) {
        workers << QThread::create([&, i] {
            --waiting;
            while (waiting.load() > 0)
                QThread::yieldCurrentThread();
            spinFor(std::chrono::microseconds(45 * i));
            seen[i] = Probe<N>::instance();
        });
        workers.last()->start();
    }
    for (QThread *t : workers) {
        t->wait();
        delete t;
    }
    bool same = true;
    for (Probe<N> *p : seen)
        same = same && p == seen.first() && p;
    return same && Probe<N>::constructions.load() == 1;
}

template <int... N>
int failedTrials(std::integer_sequence<int, N...>)
{
    return (0 + ... + (raceOnce<N>() ? 0 : 1));
}

} // namespace

class TestOnceOnly : public QObject
{
    Q_OBJECT

private slots:
    void contendedFirstCallsConstructOnce()
    {
        QCOMPARE(failedTrials(std::make_integer_sequence<int, 64>()), 0);
    }
};

ZORVEL_TEST_MAIN(TestOnceOnly)
#include "tst_OnceOnly.moc"
