// Child processes over pipes, watched with poll(2); a stopped batch passes its
// signal on to the children, which end their decoders themselves.
#include "batch/batch_jobs.h"

#include "batch/batch_run.h"
#include "batch/stop_signals.h"
#include "develop/decoder_resources.h"
#include "develop/raw_set.h"
#include "support/paths.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Output pipes of one child and what came through them.
struct Child {
    pid_t pid = -1;
    int outFd = -1, errFd = -1;
    QByteArray out, err;
};

std::mutex childrenMutex;
std::vector<pid_t> runningPids;  // for the signal thread

// Reads what is there; false at the end of the stream.
bool drain(int& fd, QByteArray& into) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, n);
        return true;
    }
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    ::close(fd);
    fd = -1;
    return false;
}

// Starts `program` on one set, the reference given on its standard input
// (a missing file is then that set's failure, not a usage error).
bool spawnChild(const QString& program, const QStringList& args, const QString& reference,
                Child& child) {
    int out[2], err[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        for (int fd : out) ::close(fd);
        return false;
    }
    if (::pipe2(in, O_CLOEXEC) != 0) {
        for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> strings;
    strings.push_back(QFile::encodeName(program).toStdString());
    for (const QString& a : args) strings.push_back(QFile::encodeName(a).toStdString());
    std::vector<char*> argv;
    for (std::string& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    std::lock_guard<std::mutex> lock(childrenMutex);
    const bool started =
        !stopSignal() && posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (started) {
        const QByteArray line = QFile::encodeName(reference) + '\n';
        [[maybe_unused]] const ssize_t n =
            ::write(in[1], line.constData(), static_cast<size_t>(line.size()));
        runningPids.push_back(pid);
    }
    ::close(in[1]);
    if (!started) {
        ::close(out[0]);
        ::close(err[0]);
        return false;
    }
    child = Child{pid, out[0], err[0], {}, {}};
    return true;
}

int exitStatusOf(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(childrenMutex);
    std::erase(runningPids, pid);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace

int setsThatFit(int jobs, qint64 setBytes, qint64 availableBytes) {
    if (availableBytes < 0 || setBytes <= 0) return std::max(1, jobs);
    return static_cast<int>(std::clamp<qint64>(availableBytes / setBytes, 1, std::max(1, jobs)));
}

int threadsPerSet(int cores, int running) {
    return std::max(1, cores / std::max(1, running));
}

qint64 estimatedSetBytes(const QString& reference) {
    const QString folder = CarpetaArchivo(QFileInfo(reference).absoluteFilePath());
    const QStringList raws = listRawFolder(folder, QFileInfo(reference).suffix());
    qint64 frames = 0, largest = 0;
    for (qsizetype k = 0; k < std::min<qsizetype>(raws.size(), kMaxArchivosRAW); ++k) {
        const qint64 pixels = rawPixelEstimate(folder + raws[k]);
        frames += pixels;
        largest = std::max(largest, pixels);
    }
    // 6 bytes a pixel per frame held decoded, 8 a pixel for the map and the
    // output stage, and the decoders' own while they run.
    return frames * 6 + largest * 8 + largest * kDecoderBytesPerPixel;
}

int runBatchJobs(const BatchOptions& options, const QString& program, std::FILE* out,
                 std::FILE* err) {
    bool clash = false;
    const QStringList sets =
        distinctSets(options.references, !options.outDir.isEmpty(), out, clash);
    int jobs = std::min<int>(options.jobs, static_cast<int>(sets.size()));
    if (!sets.isEmpty()) {
        const int fit = setsThatFit(jobs, estimatedSetBytes(sets.first()), availableMemoryBytes());
        if (fit < jobs) {
            std::fprintf(out, "Memory for %d sets at once: running %d instead of %d.\n", fit, fit,
                         jobs);
            jobs = fit;
        }
    }
    const int cores = options.threads > 0 ? options.threads : availableCores();
    QStringList args = options.setArguments;
    args << QStringLiteral("--threads") << QString::number(threadsPerSet(cores, jobs))
         << QStringLiteral("--sets-from") << QStringLiteral("-");

    installStopSignals([](int signal) {
        std::lock_guard<std::mutex> lock(childrenMutex);
        for (pid_t pid : runningPids) ::kill(pid, signal);
    });
    std::vector<Child> running;
    qsizetype next = 0;
    int status = clash ? 1 : 0;
    while (!running.empty() || (next < sets.size() && !stopSignal())) {
        while (static_cast<int>(running.size()) < jobs && next < sets.size() && !stopSignal()) {
            Child child;
            const QString reference = sets[next++];
            if (spawnChild(program, args, reference, child)) {
                running.push_back(child);
            } else if (!stopSignal()) {
                std::fprintf(err, "orrindale-batch: cannot start a process for %s\n",
                             qPrintable(NombreArchivo(reference)));
                status = 1;
            }
        }
        std::vector<pollfd> fds;
        for (const Child& c : running) {
            if (c.outFd >= 0) fds.push_back({c.outFd, POLLIN, 0});
            if (c.errFd >= 0) fds.push_back({c.errFd, POLLIN, 0});
        }
        if (!fds.empty() && ::poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR) break;
        for (const pollfd& f : fds) {
            if (!(f.revents & (POLLIN | POLLHUP | POLLERR))) continue;
            for (Child& c : running) {
                if (c.outFd == f.fd) drain(c.outFd, c.out);
                if (c.errFd == f.fd) drain(c.errFd, c.err);
            }
        }
        // A child whose pipes are closed has ended: its lines go out whole.
        for (auto it = running.begin(); it != running.end();) {
            if (it->outFd >= 0 || it->errFd >= 0) {
                ++it;
                continue;
            }
            const int code = exitStatusOf(it->pid);
            std::fwrite(it->out.constData(), 1, static_cast<size_t>(it->out.size()), out);
            std::fflush(out);
            std::fwrite(it->err.constData(), 1, static_cast<size_t>(it->err.size()), err);
            std::fflush(err);
            if (code != 0) status = 1;
            it = running.erase(it);
        }
    }
    return stopSignal() ? stoppedStatus(stopSignal()) : status;
}
