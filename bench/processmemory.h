// Memory figures of the running process, read from /proc/self/status.
#pragma once

#include <QByteArray>
#include <QFile>

// The value of a kB field of /proc/self/status ("VmRSS", "VmHWM"), or -1.
inline long processStatusKiB(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = field + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}
