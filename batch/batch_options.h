// The batch program's command line: options turned into the same settings
// structs the window fills from its controls, with the window's defaults.
#pragma once

#include "pipeline/set_settings.h"

#include <QString>
#include <QStringList>
#include <optional>

// The record of what shapes each set's files, and how the batch runs the sets.
struct BatchOptions : SetSettings {
    QStringList references;   // absolute; those of --sets-from after those given
    // Running many sets (all off by default: files beside the RAW files,
    // one set after another).
    QString outDir;           // --out: each set's files in outDir/<reference stem>/
    bool skipDone = false;    // skip sets whose completion record matches
    int jobs = 1;             // sets at once, as child processes
    int threads = 0;          // thread budget of this process; 0 = all cores
    QString reportFile;       // one JSON line appended per set
    // The arguments a child running one set of this batch takes: every
    // option but --jobs, --threads and --sets-from, and no reference.
    QStringList setArguments;
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    std::optional<BatchOptions> options;
    QString error;  // a usage error naming the bad option, when options is empty
};

// Checks everything before any work: unknown options, values out of range,
// references or a map file that do not exist.
ParsedOptions parseBatchOptions(const QStringList& arguments);

QString batchUsage();
