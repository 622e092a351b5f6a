#pragma once

// Memory figures of a running process from /proc, for the start-up benchmark.

#include <QFile>
#include <QHash>
#include <QList>
#include <QPair>
#include <QVector>

#include <algorithm>

// A field of /proc/<pid>/smaps_rollup in KiB ("Rss", "Pss"), summed over the process
// and, with children, the processes it started (-1 when unreadable).
inline qint64 smapsKiB(qint64 pid, const QByteArray &field, bool children = false)
{
    QList<qint64> pids{pid};
    if (children) {
        QFile list(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
        if (list.open(QIODevice::ReadOnly)) {
            for (const QByteArray &child : list.readAll().simplified().split(' '))
                if (!child.isEmpty())
                    pids << child.toLongLong();
        }
    }
    qint64 total = 0;
    for (const qint64 p : pids) {
        QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(p));
        if (!rollup.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : rollup.readAll().split('\n')) {
            if (line.startsWith(field + ':'))
                total += line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return total;
}

// Resident KiB per mapped file of one process (anonymous memory under "[anon]",
// "[heap]", "[stack]"), largest first: where the megabytes go.
inline QVector<QPair<QByteArray, qint64>> smapsByFile(qint64 pid)
{
    QHash<QByteArray, qint64> sums;
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!smaps.open(QIODevice::ReadOnly))
        return {};
    QByteArray name;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        // A mapping's header: "start-end perms offset dev inode [path]".
        if (parts.size() >= 5 && parts.at(0).contains('-') && !parts.at(0).endsWith(':')) {
            const QByteArray path = parts.size() > 5 ? parts.at(5) : QByteArrayLiteral("[anon]");
            name = path.mid(path.lastIndexOf('/') + 1);
        } else if (parts.size() >= 2 && parts.at(0) == "Rss:") {
            sums[name] += parts.at(1).toLongLong();
        }
    }
    QVector<QPair<QByteArray, qint64>> out;
    for (auto it = sums.cbegin(); it != sums.cend(); ++it)
        out.append({it.key(), it.value()});
    std::sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.second > b.second; });
    return out;
}
