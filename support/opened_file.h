// A file held open by its descriptor: what it held when opened stays readable
// after its name is removed or another file is renamed over it (every writer
// of ours finishes a file that way), and it tells whether the name still
// leads to it.
#pragma once

#include "support/paths.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

class OpenedFile {
  public:
    // Throws RunError(kErrFileNotFound) when the file cannot be opened.
    explicit OpenedFile(const QString& path);
    ~OpenedFile();
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    const QString& path() const { return path_; }
    // Size in bytes when it was opened.
    uint64_t size() const { return static_cast<uint64_t>(stamp_.size); }
    // Up to `bytes` bytes at `offset`; fewer at the end, -1 on a read error.
    // Safe from several threads at once: no shared file position.
    int64_t readAt(void* buffer, int64_t bytes, uint64_t offset) const;
    // The whole file as it was opened. Throws RunError when it cannot be read.
    QByteArray readAll() const;
    // True while the name leads to this very file and the file has not been
    // written since it was opened.
    bool stillAtPath() const;

  private:
    QString path_;
    int descriptor_ = -1;
    FileStamp stamp_;
};
