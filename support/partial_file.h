// A file written under a temporary name beside its target and renamed over it
// only once complete: a failed or interrupted save never leaves a broken file,
// and an older file of the same name stays until the new one is whole.
#pragma once

#include <QString>

class PartialFile {
  public:
    explicit PartialFile(const QString& target);
    // Removes the temporary file unless it was committed.
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // Where to write: the target's name and ".part".
    const QString& path() const { return path_; }
    // Renames the temporary file over the target. On failure returns the
    // system's reason as "<target>: <reason>"; empty on success.
    QString commit();

  private:
    QString target_;
    QString path_;
    bool committed_ = false;
};
