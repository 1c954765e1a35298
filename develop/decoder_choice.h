// Which decoder develops a RAW set. One set is always developed by one
// decoder, so that its frames match: "Automatic" keeps dcraw while it reads
// every file and turns to LibRaw for cameras dcraw does not know.
#pragma once

#include "develop/decoder.h"

#include <QString>
#include <QStringList>

class DecoderLauncher;
class Reporter;

struct DecoderPaths {
    QString dcraw = RutaDCRAW;
    QString libRaw = RutaLibRaw;
};

struct DecoderChoice {
    enum class Outcome {
        Ready,          // `decoder` develops the set
        DcrawMissing,   // dcraw is needed and not installed
        LibRawMissing,  // LibRaw is needed (for `unreadable`) and not installed
    };
    Outcome outcome = Outcome::Ready;
    DecoderSetting setting = DecoderSetting::Automatic;
    Decoder decoder;     // also set when not ready: dcraw, or LibRaw when it was forced
    QString unreadable;  // name of the first file dcraw cannot read, when that decided
};

// Chooses for the RAW files `rawPaths` (full paths; files that do not exist
// are passed over). Automatic: dcraw when it reads every file; LibRaw when
// it is installed and reads each file dcraw cannot; otherwise dcraw, which
// then tells in its own words what it cannot read. Only the files' first
// versions are asked about: answers are kept by the launcher.
DecoderChoice chooseDecoder(DecoderSetting setting, const DecoderPaths& paths,
                            const QStringList& rawPaths, DecoderLauncher& launcher);

// Tells the choice: a status line naming the decoder, except when dcraw was
// chosen automatically (the log then reads as it always has); for an
// automatic switch "dcraw cannot read IMG_0001.CR3: developing with LibRaw".
// When the decoder is missing it tells that instead and returns false: the
// run must not start.
bool reportDecoderChoice(const DecoderChoice& choice, Reporter& reporter);

// The ERROR box (with its status line and "DONE") of a missing LibRaw.
// `rawName` is the file it is needed for, or empty.
void AvisarLibRawNoEncontrado(Reporter& reporter, const QString& rawName);

// Whether the decoder a setting needs before any file is known is installed;
// tells the user when not. Automatic needs dcraw.
bool decoderInstalled(DecoderSetting setting, const DecoderPaths& paths, Reporter& reporter);
