// SIGINT and SIGTERM for the batch: the running decoders are ended and their
// partial files removed at once; the batch then stops before its next stage.
#pragma once

#include <functional>

// Installs the handlers. `onStop` runs once, on a thread of its own, when the
// first signal arrives (never inside the signal handler itself).
void installStopSignals(std::function<void(int signal)> onStop);

// The signal that stopped the batch, 0 while none has.
int stopSignal();

// Exit status for a batch stopped by `signal`: 130 for SIGINT, 143 for SIGTERM.
inline int stoppedStatus(int signal) {
    return 128 + signal;
}
