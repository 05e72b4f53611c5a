// Conversions between percentages of a device's property range and device values.
#pragma once

#include "vorkplatform.h"

// (max - min) * percent / 100 + min, rounded half away from zero.
LONG VORKPercentToDeviceValue(LONG min, LONG max, int percent);

// (value - min) * 100 / (max - min), rounded half away from zero; 0 for an empty
// range (max equal to min), which has no percentages.
int VORKDeviceValueToPercent(LONG min, LONG max, LONG value);

// Rounds half away from zero and truncates to 32 bits.
LONG VORKRoundHalfAway(double value);
