// The resampler's two forms of the same arithmetic, for tests to hold to the
// same bytes: plain C++, compiled everywhere, and SSE2, which the program
// uses wherever the build has it.
#pragma once

#include "align/align.h"

enum class ResampleForm { Plain, Sse2 };

#if defined(__SSE2__)
inline constexpr bool kHasSse2Resample = true;
#else
inline constexpr bool kHasSse2Resample = false;
#endif

// resampleInPlace in the given form; Sse2 where the build lacks it is Plain.
void resampleInPlace(GflBitmap& image, const RigidMove& move, CoveredRows& covered,
                     ResampleForm form);
