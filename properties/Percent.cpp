#include "Percent.h"

#include <cstdint>

LONG VORKRoundHalfAway(double value) {
    return static_cast<LONG>(value >= 0.0 ? value + 0.5 : value - 0.5);
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
