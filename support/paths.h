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

// Replaces the first occurrence and searches again from the start, so that
// replacing two blanks by one collapses any run of blanks.
QString ReemplazarTodo(const QString& text, const QString& search, const QString& replacement);

inline double MinimoReal(double a, double b) { return a < b ? a : b; }
inline double MaximoReal(double a, double b) { return a > b ? a : b; }
inline int32_t MinimoEntero(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t MaximoEntero(int32_t a, int32_t b) { return a > b ? a : b; }
inline int32_t ByteBajo(int32_t v) { return v & 255; }
