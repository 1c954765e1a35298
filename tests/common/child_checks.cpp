// Findings of forked children, the history-keeping reporter, and an
// address-space budget counted from the child's present size.
#include "tests/common/child_checks.h"

#include "tests/common/process_usage.h"

#include <malloc.h>
#include <sys/resource.h>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdlib>
#include <vector>

QString checkInChild(const ChildLimits& limits, const std::function<void(Findings&)>& body) {
    QTemporaryDir scratch;
    const QString report = scratch.filePath(QStringLiteral("findings.txt"));
    const int status = runInChild(
        [&] {
            Findings findings;
            body(findings);
            liftChildLimits();  // the report itself must be written
            QFile out(report);
            if (!out.open(QIODevice::WriteOnly)) return 2;
            out.write(findings.problems.join(QLatin1Char('\n')).toUtf8());
            return findings.problems.isEmpty() ? 0 : 1;
        },
        limits);
    QFile in(report);
    const QString found =
        in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
    if (status == 0) return {};
    if (status == 1 && !found.isEmpty()) return found;
    return QStringLiteral("the child ended with status %1").arg(status);
}

QString HistoryReporter::find(const QString& pattern) const {
    const QRegularExpression re(pattern);
    for (const QString& line : history) {
        const auto m = re.match(line);
        if (m.hasMatch()) return m.captured(1);
    }
    return {};
}

int HistoryReporter::boxesMentioning(const QString& text) const {
    int count = 0;
    for (const Box& box : boxes) count += box.text.contains(text);
    return count;
}

bool HistoryReporter::reportedOutOfMemory(const QString& module) const {
    for (const Box& box : boxes)
        if (box.text.contains(QStringLiteral("module ") + module + QStringLiteral(" ")) &&
            box.text.contains(QStringLiteral("Error number 7,")))
            return true;
    return false;
}

bool limitAddressSpaceFromNow(long long budget) {
    // Kept for the child's life: freeing them would hand the room back.
    static std::vector<void*> held;
    loadLazyLibrariesNow();
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    for (size_t free = mallinfo2().fordblks; free > 64 * 1024; free -= 64 * 1024)
        held.push_back(std::malloc(64 * 1024 - 64));
    const long long mapped = procStatusBytes("VmSize");
    rlimit r{};
    if (mapped <= 0 || getrlimit(RLIMIT_AS, &r) != 0) return false;
    r.rlim_cur = static_cast<rlim_t>(mapped + budget);
    return setrlimit(RLIMIT_AS, &r) == 0;
}
