// dcraw and dcraw_emu: program paths, arguments and the shown command line.
#include "develop/decoder.h"

const QString RutaDCRAW = QStringLiteral("/usr/bin/dcraw");
const QString RutaLibRaw = QStringLiteral("/usr/bin/dcraw_emu");

Decoder Decoder::dcraw(const QString& program) { return Decoder{DecoderKind::Dcraw, program}; }

Decoder Decoder::libRaw(const QString& program) { return Decoder{DecoderKind::LibRaw, program}; }

QString Decoder::name() const {
    return kind == DecoderKind::LibRaw ? QStringLiteral("LibRaw") : QStringLiteral("DCRAW");
}

QStringList Decoder::arguments(const QStringList& options, const QStringList& rawPaths) const {
    QStringList args = options;
    // "-Z tiff" replaces the file name's last extension, as dcraw does.
    if (kind == DecoderKind::LibRaw) args << QStringLiteral("-Z") << QStringLiteral("tiff");
    return args + rawPaths;
}

QStringList Decoder::argumentsInto(const QStringList& options, const QString& rawPath,
                                   const QString& file) const {
    QStringList args = options;
    if (kind == DecoderKind::LibRaw)
        args << QStringLiteral("-Z") << file;
    else
        args << QStringLiteral("-c");
    return args << rawPath;
}

QString argumentForCommandLine(const QString& argument) {
    return argument.isEmpty() || argument.contains(QLatin1Char(' '))
               ? QLatin1Char('"') + argument + QLatin1Char('"')
               : argument;
}

QString Decoder::commandLine(const QStringList& options, const QStringList& rawPaths) const {
    QString line = program;
    for (const QString& a : arguments(options, rawPaths))
        line += QLatin1Char(' ') + argumentForCommandLine(a);
    return line;
}

QStringList itemsDecoder() {
    return {QStringLiteral("Automatic"), QStringLiteral("dcraw"), QStringLiteral("LibRaw")};
}
