// Temporary files renamed over their targets once whole.
#include "support/partial_file.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

PartialFile::PartialFile(const QString& target)
    : target_(target), path_(target + QStringLiteral(".part")) {}

PartialFile::~PartialFile() {
    if (!committed_) QFile::remove(path_);
}

QString PartialFile::commit() {
    if (std::rename(QFile::encodeName(path_).constData(), QFile::encodeName(target_).constData()) !=
        0)
        return target_ + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    committed_ = true;
    return QString();
}
