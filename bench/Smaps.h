#pragma once

// Memory figures of a running process from /proc, for the start-up benchmark.

#include <QFile>
#include <QList>

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
