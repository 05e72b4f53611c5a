// The platform as the project's code sees it on non-Windows hosts: the simulated
// Win32, COM and DirectShow declarations and the shared helpers.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <olectl.h>

#include "vork/export.h"
