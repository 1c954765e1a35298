// Path, text and small number helpers shared by every subsystem. Paths use
// "/" as the folder separator.
#pragma once

#include <QString>
#include <cstdint>

// A regular, non-hidden file at exactly this path (no wildcard expansion).
// False for an empty path or one ending in "/" without touching the disk.
bool ExisteArchivo(const QString& path);

// The following four throw std::invalid_argument when the text has no "."
// (QuitarExtension, ExtensionArchivo) or no "/" (NombreArchivo, CarpetaArchivo).
QString QuitarExtension(const QString& path);   // before the last "."
QString ExtensionArchivo(const QString& path);  // after the last ".", without it
QString NombreArchivo(const QString& path);     // after the last "/"
QString CarpetaArchivo(const QString& path);    // up to and including the last "/"

// Where a decoder writes the TIFF of a RAW file: beside it, the file name's
// last extension replaced by "tiff" (IMG.x.0001.CR3 -> IMG.x.0001.tiff).
// Both decoders name it so for a name with an extension; a name without one
// throws std::invalid_argument, as dcraw would look for a dot in the folder
// names and write (and have us delete) a file outside the folder.
QString tiffDeRaw(const QString& rawPath);
// The same name in `folder` (ending in "/") when a set's files go elsewhere;
// beside the RAW file when `folder` is empty.
QString tiffDeRaw(const QString& rawPath, const QString& folder);

// Replaces the first occurrence and searches again from the start, so that
// replacing two blanks by one collapses any run of blanks.
QString ReemplazarTodo(const QString& text, const QString& search, const QString& replacement);

// Identity and version of a file on disk: equal stamps mean the file was not
// replaced or rewritten in between (size, change time to the nanosecond, inode).
struct FileStamp {
    bool valid = false;
    int64_t size = 0;
    int64_t changeNs = 0;
    uint64_t inode = 0;
    uint64_t device = 0;
    bool operator==(const FileStamp&) const = default;
};
// An invalid stamp when the file cannot be examined.
FileStamp fileStamp(const QString& path);
// The stamp of an open file, whatever name it has now (or none).
FileStamp fileStampOf(int descriptor);

inline double MinimoReal(double a, double b) { return a < b ? a : b; }
inline double MaximoReal(double a, double b) { return a > b ? a : b; }
inline int32_t MinimoEntero(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t MaximoEntero(int32_t a, int32_t b) { return a > b ? a : b; }
inline int32_t ByteBajo(int32_t v) { return v & 255; }
