// Runs a piece of a test in a forked child under limits the test process
// itself must not take on: another user, a file-size limit, an address-space
// limit.
#pragma once

#include <functional>

struct ChildLimits {
    bool asNobody = false;             // drop to user and group 65534 first (when root)
    long long fileSizeBytes = -1;      // RLIMIT_FSIZE; writes beyond it fail with EFBIG
    long long addressSpaceBytes = -1;  // RLIMIT_AS
};

// The child's exit status (fn's return value, 0..255), or -1 when it died
// from a signal or could not be started. The child never returns into the
// test: it leaves with _exit. Only the soft limits are lowered, so the child
// may lift them again (liftChildLimits) to show it still works.
int runInChild(const std::function<int()>& fn, const ChildLimits& limits);

// Loads what Qt would otherwise load on first use, inside an address-space
// limit: every image format plugin (each is asked about every picture read by
// name, PNG too) and the font pictures are labelled in, with fontconfig's
// caches. Which plugins and fonts a machine has must not eat a test's budget.
void loadLazyLibrariesNow();

// Raises the soft file-size and address-space limits back to their hard
// limits: in a child, or in a test that lowered them around one step. False
// when that fails.
bool liftChildLimits();
