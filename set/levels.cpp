// The limits of channels that clip below full scale.
#include "set/levels.h"

#include <algorithm>
#include <cmath>

ChannelLimits levelsOfClips(const std::array<int, 3>& clip) {
    ChannelLimits limits;
    for (size_t c = 0; c < 3; ++c) {
        // 90 % of 65535 is 58981.5, which rounds to the default 58982.
        const int level = static_cast<int>(std::nearbyint(0.9 * clip[c]));
        limits.clipLevel[c] = std::max(kUsableMin + 1, level);
        limits.usableMax[c] = limits.clipLevel[c] - 1;
    }
    return limits;
}
