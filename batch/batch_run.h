// One batch call: every reference's set developed, measured, mapped, blended
// and, when asked, drawn as a contact sheet, through the procedures the
// window calls.
#pragma once

#include "batch/batch_options.h"

#include <cstdio>

class DecoderLauncher;
class StdoutReporter;

// Exit status: 0 when every step of every set succeeded, 1 otherwise (the
// next set is still processed). `summary` receives one line per set naming
// the files it wrote.
int runBatch(const BatchOptions& options, StdoutReporter& reporter, DecoderLauncher& launcher,
             std::FILE* summary);
