// Forked children with resource limits for failure tests.
#include "tests/common/child_process.h"

#include "support/objeto_imagen.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <csignal>

namespace {

bool setSoftLimit(int resource, rlim_t value) {
    rlimit r{};
    if (getrlimit(resource, &r) != 0) return false;
    r.rlim_cur = value;
    return setrlimit(resource, &r) == 0;
}

bool liftSoftLimit(int resource) {
    rlimit r{};
    if (getrlimit(resource, &r) != 0) return false;
    r.rlim_cur = r.rlim_max;
    return setrlimit(resource, &r) == 0;
}

}  // namespace

int runInChild(const std::function<int()>& fn, const ChildLimits& limits) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // A write past the size limit must fail, not kill the child.
        std::signal(SIGXFSZ, SIG_IGN);
        if (limits.fileSizeBytes >= 0 &&
            !setSoftLimit(RLIMIT_FSIZE, static_cast<rlim_t>(limits.fileSizeBytes)))
            _exit(250);
        if (limits.addressSpaceBytes >= 0) {
            loadLazyLibrariesNow();
            if (!setSoftLimit(RLIMIT_AS, static_cast<rlim_t>(limits.addressSpaceBytes))) _exit(251);
        }
        if (limits.asNobody && geteuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(252);
        }
        int status = 255;
        try {
            status = fn();
        } catch (...) {
            status = 253;
        }
        _exit(status & 255);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void loadLazyLibrariesNow() {
    // Listing the formats instantiates every plugin, and they stay loaded.
    QImageReader::supportedImageFormats();
    QImageWriter::supportedImageFormats();
    QImage label(64, 16, QImage::Format_RGB32);
    drawPictureText(label, QStringLiteral("+0.5 EV"), 0, 0, 0xFFFFFF);
}

bool liftChildLimits() {
    return liftSoftLimit(RLIMIT_FSIZE) && liftSoftLimit(RLIMIT_AS);
}
