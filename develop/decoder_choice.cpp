// Choosing the decoder of a RAW set and telling the user about it.
#include "develop/decoder_choice.h"

#include "develop/dcraw_process.h"
#include "develop/raw_set.h"
#include "support/paths.h"
#include "support/reporter.h"

namespace {

QString libRawNeeded(const QString& rawName) {
    QString text = QStringLiteral("LibRaw (dcraw_emu, Debian package libraw-bin) is needed");
    if (!rawName.isEmpty()) text += QStringLiteral(" for ") + rawName;
    return text;
}

}  // namespace

DecoderChoice chooseDecoder(DecoderSetting setting, const DecoderPaths& paths,
                            const QStringList& rawPaths, DecoderLauncher& launcher) {
    using Outcome = DecoderChoice::Outcome;
    DecoderChoice choice;
    choice.setting = setting;
    const Decoder dcraw = Decoder::dcraw(paths.dcraw);
    const Decoder libRaw = Decoder::libRaw(paths.libRaw);
    QStringList present;
    for (const QString& p : rawPaths)
        if (ExisteArchivo(p) && !present.contains(p)) present << p;

    if (setting == DecoderSetting::LibRaw) {
        choice.decoder = libRaw;
        if (!ExisteArchivo(paths.libRaw)) {
            choice.outcome = Outcome::LibRawMissing;
            if (!present.isEmpty()) choice.unreadable = NombreArchivo(present.first());
        }
        return choice;
    }
    choice.decoder = dcraw;
    if (!ExisteArchivo(paths.dcraw)) {
        choice.outcome = Outcome::DcrawMissing;
        return choice;
    }
    if (setting == DecoderSetting::Dcraw) return choice;

    QStringList unreadable;
    for (const QString& p : present)
        if (!launcher.reads(dcraw, p)) unreadable << p;
    if (unreadable.isEmpty()) return choice;
    if (!ExisteArchivo(paths.libRaw)) {
        choice.outcome = Outcome::LibRawMissing;
        choice.unreadable = NombreArchivo(unreadable.first());
        return choice;
    }
    // A file neither reads stays with dcraw, whose message names the problem.
    for (const QString& p : unreadable)
        if (!launcher.reads(libRaw, p)) return choice;
    choice.decoder = libRaw;
    choice.unreadable = NombreArchivo(unreadable.first());
    return choice;
}

void AvisarLibRawNoEncontrado(Reporter& reporter, const QString& rawName) {
    reporter.EscribirEstado(libRawNeeded(rawName), true);
    reporter.EscribirEstado(QStringLiteral("DONE"), true);
    reporter.MostrarError(libRawNeeded(rawName));
}

bool reportDecoderChoice(const DecoderChoice& choice, Reporter& reporter) {
    switch (choice.outcome) {
        case DecoderChoice::Outcome::DcrawMissing:
            AvisarDCRAWNoEncontrado(reporter, choice.decoder.program);
            return false;
        case DecoderChoice::Outcome::LibRawMissing:
            AvisarLibRawNoEncontrado(reporter, choice.unreadable);
            return false;
        case DecoderChoice::Outcome::Ready:
            break;
    }
    const bool libRaw = choice.decoder.kind == DecoderKind::LibRaw;
    if (choice.setting != DecoderSetting::Automatic)
        reporter.EscribirEstado(QStringLiteral("Developing with ") +
                                    (libRaw ? QStringLiteral("LibRaw") : QStringLiteral("dcraw")),
                                true);
    else if (libRaw)
        reporter.EscribirEstado(QStringLiteral("dcraw cannot read ") + choice.unreadable +
                                    QStringLiteral(": developing with LibRaw"),
                                true);
    return true;
}

bool decoderInstalled(DecoderSetting setting, const DecoderPaths& paths, Reporter& reporter) {
    if (setting == DecoderSetting::LibRaw) {
        if (ExisteArchivo(paths.libRaw)) return true;
        reporter.MostrarError(libRawNeeded(QString()));
        return false;
    }
    if (ExisteArchivo(paths.dcraw)) return true;
    AvisarDCRAWNoEncontrado(reporter, paths.dcraw);
    return false;
}
