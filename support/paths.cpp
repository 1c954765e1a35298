// Path and text helpers.
#include "support/paths.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <stdexcept>

namespace {

[[noreturn]] void invalid(const char* what, const QString& text) {
    throw std::invalid_argument(std::string(what) + ": '" + text.toStdString() + "'");
}

}  // namespace

bool ExisteArchivo(const QString& path) {
    if (path.isEmpty() || path.endsWith(QLatin1Char('/'))) return false;
    const QFileInfo info(path);
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'));
}

QString QuitarExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) invalid("No extension in", path);
    return path.left(dot);
}

QString ExtensionArchivo(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) invalid("No extension in", path);
    return path.mid(dot + 1);
}

QString NombreArchivo(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) invalid("No folder in", path);
    return path.mid(slash + 1);
}

QString CarpetaArchivo(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) invalid("No folder in", path);
    return path.left(slash + 1);
}

QString tiffDeRaw(const QString& rawPath) {
    const qsizetype dot = rawPath.lastIndexOf(QLatin1Char('.'));
    if (dot <= rawPath.lastIndexOf(QLatin1Char('/'))) invalid("No extension in", rawPath);
    return rawPath.left(dot) + QStringLiteral(".tiff");
}

QString tiffDeRaw(const QString& rawPath, const QString& folder) {
    const QString beside = tiffDeRaw(rawPath);
    return folder.isEmpty() ? beside : folder + NombreArchivo(beside);
}

QString ReemplazarTodo(const QString& text, const QString& search, const QString& replacement) {
    if (search.isEmpty()) return text;
    // A replacement holding the search text would never terminate.
    if (replacement.contains(search)) invalid("Replacement contains the search text", search);
    QString result = text;
    for (qsizetype at = result.indexOf(search); at >= 0; at = result.indexOf(search))
        result.replace(at, search.size(), replacement);
    return result;
}

namespace {

FileStamp stampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.valid = true;
    stamp.size = st.st_size;
    // The change time moves on every write or rename onto the name, even when
    // a program sets the modification time back.
    stamp.changeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    stamp.inode = st.st_ino;
    stamp.device = st.st_dev;
    return stamp;
}

}  // namespace

FileStamp fileStamp(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return stampOf(st);
}

FileStamp fileStampOf(int descriptor) {
    struct stat st {};
    if (::fstat(descriptor, &st) != 0) return {};
    return stampOf(st);
}
