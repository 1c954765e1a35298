// The two RAW decoders Orrindale starts, dcraw and LibRaw's dcraw_emu: the
// arguments that make each develop files into the TIFFs beside them, and the
// command line as the user reads it, made from those same arguments.
#pragma once

#include <QString>
#include <QStringList>

// Where the decoders live. Constants: no search of the path.
extern const QString RutaDCRAW;
extern const QString RutaLibRaw;

enum class DecoderKind { Dcraw, LibRaw };

struct Decoder {
    DecoderKind kind = DecoderKind::Dcraw;
    QString program;

    static Decoder dcraw(const QString& program = RutaDCRAW);
    static Decoder libRaw(const QString& program = RutaLibRaw);

    // How messages name it: "DCRAW" or "LibRaw".
    QString name() const;
    // Everything after the program: `options`, then what makes each of
    // `rawPaths` land in tiffDeRaw(path), then the paths. LibRaw appends
    // ".tiff" to the whole name unless told to replace the extension.
    QStringList arguments(const QStringList& options, const QStringList& rawPaths = {}) const;
    // One file developed into `file` instead of beside it (the RAW folder
    // may be read-only): dcraw writes the TIFF to standard output (-c), which
    // the launcher sends into `file`; dcraw_emu is given the name (-Z), which
    // it takes whole as it holds a dot.
    QStringList argumentsInto(const QStringList& options, const QString& rawPath,
                              const QString& file) const;
    bool writesToStandardOutput() const { return kind == DecoderKind::Dcraw; }
    // The same command as the user reads it: the program and each argument
    // after a blank, in double quotes when it holds a blank or is empty.
    QString commandLine(const QStringList& options, const QStringList& rawPaths = {}) const;
    // dcraw_emu prints its progress on standard output, its errors on
    // standard error; dcraw prints both on standard error.
    bool progressOnStdout() const { return kind == DecoderKind::LibRaw; }

    bool operator==(const Decoder&) const = default;
};

// The decoder setting, as the window's list and the batch option offer it.
enum class DecoderSetting { Automatic = 0, Dcraw = 1, LibRaw = 2 };
QStringList itemsDecoder();  // "Automatic", "dcraw", "LibRaw", in index order

// An argument as written in a shown command line.
QString argumentForCommandLine(const QString& argument);
