// The platform as the project's code sees it on Windows: the SDK, plus what
// mingw-w64's headers lack.
#pragma once

#ifndef STRSAFE_NO_DEPRECATE
#define STRSAFE_NO_DEPRECATE
#endif
#include <windows.h>
#include <dshow.h>
#include <dvdmedia.h>
#include <olectl.h>
#include <qedit.h>

#include "vork/export.h"

// mingw-w64's qedit.h declares the sample grabber's interfaces but not the classes.
#ifndef VORK_QEDIT_CLSIDS
#define VORK_QEDIT_CLSIDS
static const CLSID CLSID_SampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
static const CLSID CLSID_NullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
#endif
