// The virtual camera's class, as programs that create it directly name it.
#pragma once

#include <windows.h>

// {6D1E8A6B-52E4-4C59-9A2B-2F7D5C0B7A11}
inline const CLSID CLSID_VorkVirtualCamera = {0x6D1E8A6B, 0x52E4, 0x4C59, {0x9A, 0x2B, 0x2F, 0x7D, 0x5C, 0x0B, 0x7A, 0x11}};
