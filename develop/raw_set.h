// The reference RAW file's folder turned into the RAW file set.
#pragma once

#include <QString>
#include <QStringList>

class Reporter;

// The extensions of the RAW files the decoders read (lower case), for the
// file dialog; the listing itself takes the reference's extension.
QStringList rawExtensions();

// At most this many RAW files form a set.
constexpr int kMaxArchivosRAW = 10;

// Plain, visible files of `folder` whose names end in "." + `extension`,
// letter case ignored, sorted by name ignoring case (so the set and its tenth
// file are the same on every machine).
QStringList listRawFolder(const QString& folder, const QString& extension);

struct RawListing {
    QString reference;  // the reference path, replaced by the tenth file at the limit
    QString filesText;  // the names, each followed by CR LF, for the file list box
    bool listed = false;  // false when the listing failed before it began
};

// Lists the reference's folder into `archivosRAW` (names without folder).
// More than ten matching files: the first ten are taken, the reference becomes
// the tenth and an ERROR box says so. When nothing matches, `archivosRAW` keeps
// its previous entries. Failures go to the unexpected-error report.
RawListing LeerArchivosRAW(const QString& reference, QStringList& archivosRAW, Reporter& reporter);

// The ERROR box of a missing decoder.
void AvisarDCRAWNoEncontrado(Reporter& reporter, const QString& rutaDCRAW);
