#include "Percent.h"

#include <cmath>
#include <cstdint>

#include <cstdint>

LONG VORKRoundHalfAway(double value) {
    if (!std::isfinite(value)) return 0;
    const double rounded = std::trunc(value >= 0.0 ? value + 0.5 : value - 0.5);
    // Only the low 32 bits are kept, taken modulo 2^32 so that no conversion overflows.
    const double low = std::fmod(rounded, 4294967296.0);
    return static_cast<LONG>(static_cast<uint32_t>(static_cast<int64_t>(low)));
}

LONG VORKPercentToDeviceValue(LONG min, LONG max, int percent) {
    const LONG range = static_cast<LONG>(static_cast<uint32_t>(max) - static_cast<uint32_t>(min));
    return VORKRoundHalfAway(static_cast<double>(range) * percent / 100.0 + static_cast<double>(min));
}

int VORKDeviceValueToPercent(LONG min, LONG max, LONG value) {
    const LONG range = static_cast<LONG>(static_cast<uint32_t>(max) - static_cast<uint32_t>(min));
    if (range == 0) return 0;
    const LONG offset = static_cast<LONG>(static_cast<uint32_t>(value) - static_cast<uint32_t>(min));
    return static_cast<int>(VORKRoundHalfAway(static_cast<double>(offset) * 100.0 / range));
}
