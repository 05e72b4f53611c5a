// OLE controls: the modal property frame. The simulated runtime records each call
// and returns at once (platform/sim/src/propertyframe.cpp).
#pragma once

#include <objbase.h>

typedef DWORD LCID;

extern "C" HRESULT WINAPI OleCreatePropertyFrame(HWND owner, UINT x, UINT y, LPCOLESTR caption, ULONG objects,
                                                 IUnknown** objectList, ULONG pages, LPCLSID pageClsids,
                                                 LCID locale, DWORD reserved, LPVOID reservedPointer);
