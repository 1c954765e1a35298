// What the fuzz targets share: the input bytes as a file (every loader under
// test takes a path) and the Qt application object the picture code needs.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// Creates the application object once; image plugins are found through it.
void startQt(int* argc, char*** argv);

// Writes the bytes over this process's scratch file (in /dev/shm when there
// is one, so runs do not wear a disk) and returns its path.
QString scratchFile(const uint8_t* data, size_t size);

// Ends the run as a crash when an invariant the program relies on is broken,
// so that libFuzzer keeps the input.
void require(bool condition, const char* what);
