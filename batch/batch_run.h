// One batch call: every reference's set developed, measured, mapped, blended
// and, when asked, drawn as a contact sheet, through the procedures the
// window calls.
#pragma once

#include "batch/batch_options.h"

#include <cstdio>

class DecoderLauncher;
class StdoutReporter;

// Exit status: 0 when every step of every set succeeded, 1 otherwise (the
// next set is still processed); 130 / 143 when SIGINT / SIGTERM stopped it.
// `summary` receives one line per set naming the files it wrote, as the
// procedures reported them.
int runBatch(const BatchOptions& options, StdoutReporter& reporter, DecoderLauncher& launcher,
             std::FILE* summary);

// What makes two references one set: their folder and extension.
QString setKey(const QString& reference);
// The references in order, each set once; a later reference of a set already
// listed is told on `summary` and dropped. With `outFolders`, a set whose
// reference has the name of an earlier one's (of another folder) would share
// its output folder: it fails, told on both streams, and `clash` is set.
QStringList distinctSets(const QStringList& references, bool outFolders, std::FILE* summary,
                         bool& clash);
