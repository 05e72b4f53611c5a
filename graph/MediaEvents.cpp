// Media events of a grabber's graph, delivered as WM_MEDIAEVENT to its hidden
// window and handled on the thread that owns the window while it pumps messages.
#include "VORKDirectShowGrabber.h"

#include "ComIdentity.h"

LRESULT CALLBACK CVORKDirectShowGrabber::VideoWndProcedureGlobal(HWND window, UINT message, WPARAM wParam,
                                                                 LPARAM lParam) {
    auto* grabber = reinterpret_cast<CVORKDirectShowGrabber*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (grabber && message == WM_MEDIAEVENT) return grabber->VideoWndProcedure(window, message, wParam, lParam);
    switch (message) {
    case WM_CREATE:
    case WM_DESTROY:
    case WM_SIZE:
    case WM_ERASEBKGND:
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT CVORKDirectShowGrabber::VideoWndProcedure(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_MEDIAEVENT) HandleMediaEvent();
    return 0;
}

LRESULT CVORKDirectShowGrabber::HandleMediaEvent() {
    if (!m_pMediaEvent) return 1;
    LONG code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    while (SUCCEEDED(m_pMediaEvent->GetEvent(&code, &param1, &param2, 0))) {
        if (code == EC_ERRORABORT) {
            StopSnap();
            SendErrorEvent(L"CVORKDirectShowGrabber: Received event EC_ERRORABORT!", EC_ERRORABORT);
        } else if (code == EC_DEVICE_LOST && param2 == 0) {
            // The lost filter's IUnknown, which the event may hold without a
            // reference: compared with our own source's, never called.
            if (param1 && param1 == reinterpret_cast<LONG_PTR>(IdentityOf(m_pCapSource))) {
                m_pMediaEvent->FreeEventParams(code, param1, param2);
                SendErrorEvent(L"CVORKDirectShowGrabber: Device is lost!", EC_DEVICE_LOST);
                StopGrabThread(false);
                return 1;
            }
        }
        m_pMediaEvent->FreeEventParams(code, param1, param2);
    }
    return 1;
}
