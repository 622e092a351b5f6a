#pragma once

// Small timing helpers shared by the benchmark programs. Each program prints one
// line per measurement:  BENCH|<name>|<median>|<p95>|<unit>|<target>
// bench/run gathers the lines of every program into one table (and JSON).

#include <QElapsedTimer>
#include <QString>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace Bench {

struct Stats {
    double median = 0;
    double p95 = 0;
};

inline Stats stats(QVector<double> samples)
{
    Stats s;
    if (samples.isEmpty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.median = samples.at(samples.size() / 2);
    s.p95 = samples.at(std::min<int>(samples.size() - 1, int(samples.size() * 0.95)));
    return s;
}

inline void report(const QString &name, const Stats &s, const QString &unit, const QString &target)
{
    std::printf("BENCH|%s|%.3f|%.3f|%s|%s\n", qPrintable(name), s.median, s.p95, qPrintable(unit),
                qPrintable(target));
    std::fflush(stdout);
}

// Runs setup (untimed) then body (timed) `runs` times; returns milliseconds.
inline Stats timeMs(int runs, const std::function<void(int)> &setup, const std::function<void(int)> &body)
{
    QVector<double> samples;
    samples.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        if (setup)
            setup(i);
        QElapsedTimer t;
        t.start();
        body(i);
        samples.append(t.nsecsElapsed() / 1e6);
    }
    return stats(samples);
}

} // namespace Bench
