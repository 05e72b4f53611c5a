// Test controls of the simulated window manager.
#pragma once

#include <windows.h>

namespace vorksim {

// Number of windows that exist now, and of registered window classes.
size_t WindowCount();
size_t WindowClassCount();

// Messages queued for a thread and not yet retrieved.
size_t QueuedMessageCount(DWORD threadId);

}  // namespace vorksim
