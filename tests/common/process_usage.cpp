// Memory and descriptor counts of the test process, from /proc.
#include "tests/common/process_usage.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

long long procStatusBytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key)) {
            bool ok = false;
            const long long kb = line.mid(key.size()).trimmed().split(' ').value(0).toLongLong(&ok);
            return ok ? kb * 1024 : -1;
        }
    return -1;
}

int openDescriptors() {
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (!fds.exists()) return -1;
    return static_cast<int>(
        fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

long long peakResidentGrowth(const std::function<void()>& work) {
    // Writing 5 to clear_refs resets the peak resident size to the current one.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1) return -1;
    clear.close();
    const long long before = procStatusBytes("VmRSS");
    work();
    const long long peak = procStatusBytes("VmHWM");
    if (before < 0 || peak < 0) return -1;
    return peak - before;
}
