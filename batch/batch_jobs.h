// --jobs N: up to N sets at once, each in a child process of this program
// running that one set with a share of the cores. Each child's output is
// printed whole when it ends, so one set's lines stay together.
#pragma once

#include "batch/batch_options.h"

#include <QtGlobal>
#include <cstdio>

// Sets that may run at once: `jobs`, fewer when `setBytes` each (as
// estimated) would not fit into `availableBytes` (-1: unknown), at least one.
int setsThatFit(int jobs, qint64 setBytes, qint64 availableBytes);

// Threads each of `running` sets at once may use on `cores` cores (at least 1).
int threadsPerSet(int cores, int running);

// Memory a set needs as it is developed and blended: its frames held
// decoded and the map and output stage beside them.
qint64 estimatedSetBytes(const QString& reference);

// Runs the batch's sets through child processes of `program`; exit status as
// runBatch's.
int runBatchJobs(const BatchOptions& options, const QString& program, std::FILE* out,
                 std::FILE* err);
