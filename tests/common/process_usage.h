// What the test process holds right now: memory as /proc/self/status reports
// it, open file descriptors, and the peak memory of a stretch of work.
#pragma once

#include <functional>

// A "Vm..." line of /proc/self/status in bytes ("VmSize", "VmRSS", "VmHWM"),
// or -1 when it cannot be read.
long long procStatusBytes(const char* field);

// Entries of /proc/self/fd, or -1 when it cannot be listed.
int openDescriptors();

// Resident memory `work` adds at its peak over what was resident before it,
// in bytes (the kernel's peak is reset first); -1 when the kernel does not
// let the peak be reset.
long long peakResidentGrowth(const std::function<void()>& work);
