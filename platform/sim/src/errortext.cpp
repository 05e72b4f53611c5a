// AMGetErrorTextW: the platform's texts for the results the simulation returns.
#include <algorithm>
#include <cwchar>

#include <dshow.h>

namespace {

struct ErrorText {
    HRESULT hr;
    const wchar_t* text;
};

const ErrorText kTexts[] = {
    {E_FAIL, L"Unspecified error"},
    {E_POINTER, L"Invalid pointer"},
    {E_NOINTERFACE, L"No such interface supported"},
    {E_NOTIMPL, L"Not implemented"},
    {E_ABORT, L"Operation aborted"},
    {E_UNEXPECTED, L"Catastrophic failure"},
    {E_OUTOFMEMORY, L"Not enough storage is available to complete this operation."},
    {E_INVALIDARG, L"The parameter is incorrect."},
    {E_PROP_ID_UNSUPPORTED, L"Element not found."},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"The system cannot find the file specified."},
    {static_cast<HRESULT>(0x8007001FL), L"A device attached to the system is not functioning."},
    {static_cast<HRESULT>(0x8007048FL), L"The device is not connected."},
    {CO_E_NOTINITIALIZED, L"CoInitialize has not been called."},
    {REGDB_E_CLASSNOTREG, L"Class not registered"},
    {VFW_E_INVALIDMEDIATYPE, L"An invalid media type was specified."},
    {VFW_E_ALREADY_CONNECTED, L"The operation could not be performed because the pin is already connected."},
    {VFW_E_NO_ACCEPTABLE_TYPES, L"There is no common media type between these pins."},
    {VFW_E_NOT_CONNECTED, L"The operation cannot be performed because the pins are not connected."},
    {VFW_E_RUNTIME_ERROR, L"A run-time error occurred."},
    {VFW_E_NO_INTERFACE, L"The required interface could not be found."},
    {VFW_E_NOT_FOUND, L"An object or name was not found."},
    {VFW_E_CANNOT_CONNECT, L"No combination of intermediate filters could be found to make the connection."},
    {VFW_E_NOT_STOPPED, L"The operation could not be performed because the filter is not stopped."},
    {VFW_E_WRONG_STATE, L"The operation could not be performed because the filter is in the wrong state."},
    {VFW_E_TYPE_NOT_ACCEPTED, L"This media type is not valid for this pin."},
    {VFW_E_DUPLICATE_NAME, L"Cannot add a new filter with this name because one of this name already exists."},
    {VFW_E_NOT_IN_GRAPH, L"Cannot perform the requested function on an object that is not in the filter graph."},
    {VFW_E_NO_CAPTURE_HARDWARE, L"A video capture device could not be found."},
    {VFW_S_STATE_INTERMEDIATE, L"The state transition has not completed."},
    {VFW_S_CANT_CUE, L"The filter is active, but cannot deliver data."},
};

}  // namespace

extern "C" DWORD WINAPI AMGetErrorTextW(HRESULT hr, WCHAR* buffer, DWORD maxLength) {
    if (!buffer || maxLength == 0) return 0;
    for (const ErrorText& e : kTexts) {
        if (e.hr != hr) continue;
        size_t n = std::min<size_t>(std::wcslen(e.text), maxLength - 1);
        std::wmemcpy(buffer, e.text, n);
        buffer[n] = 0;
        return static_cast<DWORD>(n);
    }
    return 0;
}
