// Files held open by descriptor, read with pread.
#include "support/opened_file.h"

#include "support/errors.h"

#include <fcntl.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>

OpenedFile::OpenedFile(const QString& path) : path_(path) {
    descriptor_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ >= 0) stamp_ = fileStampOf(descriptor_);
    if (descriptor_ < 0 || !stamp_.valid)
        throw RunError(kErrFileNotFound, QStringLiteral("File not found: ") + path);
}

OpenedFile::~OpenedFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

int64_t OpenedFile::readAt(void* buffer, int64_t bytes, uint64_t offset) const {
    auto* at = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(descriptor_, at + done, static_cast<size_t>(bytes - done),
                                  static_cast<off_t>(offset + static_cast<uint64_t>(done)));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += n;
    }
    return done;
}

QByteArray OpenedFile::readAll() const {
    QByteArray bytes;
    bytes.resize(static_cast<qsizetype>(size()));
    if (readAt(bytes.data(), bytes.size(), 0) != bytes.size())
        throw RunError(kErrFileAccess, QStringLiteral("Cannot read ") + path_);
    return bytes;
}

bool OpenedFile::stillAtPath() const {
    return fileStamp(path_) == stamp_ && fileStampOf(descriptor_) == stamp_;
}
