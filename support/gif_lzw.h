// GIF's LZW coding of an image's colour indexes, on all cores: the pixels are
// cut into runs coded independently, each after a clear code, and their bits
// joined. Any GIF reader takes a clear code anywhere in the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The image data of one GIF image: codes of `minCodeSize` + 1 bits and more
// (minCodeSize 2..8; every index below 2^minCodeSize), packed from the low
// bit, beginning with a clear code and ending with the end code, without the
// leading code-size byte and without the 255-byte block framing.
std::vector<uint8_t> gifLzwEncode(const uint8_t* indexes, size_t count, int minCodeSize);
