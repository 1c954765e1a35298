// Log-line stamps and resident-memory readings for the benchmarks.
#include "bench/bench_timing.h"

#include <QFile>
#include <QRegularExpression>

double TimingReporter::secondsAfter(const QString& from, int occurrence) const {
    for (size_t i = 0; i + 1 < stamps.size(); ++i)
        if (stamps[i].line.startsWith(from) && occurrence-- == 0)
            return std::chrono::duration<double>(stamps[i + 1].at - stamps[i].at).count();
    return 0;
}

double TimingReporter::secondsBetween(const QString& from, const QString& to) const {
    for (size_t i = 0; i < stamps.size(); ++i)
        if (stamps[i].line.startsWith(from))
            for (size_t j = i + 1; j < stamps.size(); ++j)
                if (stamps[j].line.startsWith(to))
                    return std::chrono::duration<double>(stamps[j].at - stamps[i].at).count();
    return 0;
}

namespace {
long long statusField(const char* name) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QString text = QString::fromLatin1(f.readAll());
    const auto m = QRegularExpression(QString::fromLatin1(name) + QStringLiteral(":\\s+(\\d+) kB")).match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() * 1024 : 0;
}
}  // namespace

void resetPeakMemory() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}
long long peakResidentBytes() { return statusField("VmHWM"); }
long long residentBytes() { return statusField("VmRSS"); }
