// Test controls of the simulated kernel.
#pragma once

#include <windows.h>

namespace vorksim {

// Shifts GetTickCount by an offset, so that a test can place its 32-bit wrap
// inside a wait.
void SetTickCountOffset(DWORD offset);

// Number of kernel handles currently open (events and the like).
size_t OpenHandleCount();

}  // namespace vorksim
