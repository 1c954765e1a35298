// Forked children with resource limits for failure tests.
#include "tests/common/child_process.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int runInChild(const std::function<int()>& fn, const ChildLimits& limits) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        // A write past the size limit must fail, not kill the child.
        std::signal(SIGXFSZ, SIG_IGN);
        if (limits.fileSizeBytes >= 0) {
            const rlimit r{static_cast<rlim_t>(limits.fileSizeBytes),
                           static_cast<rlim_t>(limits.fileSizeBytes)};
            if (setrlimit(RLIMIT_FSIZE, &r) != 0) _exit(250);
        }
        if (limits.addressSpaceBytes >= 0) {
            const rlimit r{static_cast<rlim_t>(limits.addressSpaceBytes),
                           static_cast<rlim_t>(limits.addressSpaceBytes)};
            if (setrlimit(RLIMIT_AS, &r) != 0) _exit(251);
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
