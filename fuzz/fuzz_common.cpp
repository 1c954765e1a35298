// Scratch file and Qt start-up for the fuzz targets.
#include "fuzz/fuzz_common.h"

#include "support/tiff_io.h"

#include <fcntl.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>

namespace {

QString scratchPath() {
    const QString folder =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    return folder + QStringLiteral("/orrindale-fuzz-") + QString::number(getpid());
}

void removeScratch() {
    QFile::remove(scratchPath());
}

}  // namespace

void startQt(int* argc, char*** argv) {
    static QCoreApplication* app = nullptr;
    if (app) return;
    // Plugins only; no window system is touched. Never deleted: libFuzzer ends
    // the process with exit(), after Qt's own globals may already be gone.
    app = new QCoreApplication(*argc, *argv);
    initTiffLibrary();
    std::atexit(removeScratch);
}

QString scratchFile(const uint8_t* data, size_t size) {
    static const QString path = scratchPath();
    static const QByteArray native = QFile::encodeName(path);
    const int fd = open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        std::perror("scratch file");
        std::abort();
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            std::perror("scratch file");
            std::abort();
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    return path;
}

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken invariant: %s\n", what);
    std::abort();
}
