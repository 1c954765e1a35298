// Stage timing from the status log: a reporter that stamps every line, so a
// whole procedure is timed stage by stage as the user sees it run, and the
// process's peak memory around it.
#pragma once

#include "support/recording_reporter.h"

#include <chrono>
#include <vector>

class TimingReporter : public RecordingReporter {
public:
    void EscribirEstado(const QString& text, bool append) override {
        RecordingReporter::EscribirEstado(text, append);
        stamps.push_back({text, std::chrono::steady_clock::now()});
    }
    struct Stamp {
        QString line;
        std::chrono::steady_clock::time_point at;
    };
    // Seconds from the first line starting with `from` to the next line.
    double secondsAfter(const QString& from, int occurrence = 0) const;
    // Seconds from the first line starting with `from` to the first later
    // line starting with `to`.
    double secondsBetween(const QString& from, const QString& to) const;
    std::vector<Stamp> stamps;
};

// Resets the kernel's record of the peak resident size.
void resetPeakMemory();
// Peak and current resident size in bytes.
long long peakResidentBytes();
long long residentBytes();
