// Window classes, windows and per-thread message queues of the simulated platform.
// A window belongs to the thread that created it; a message posted to it waits in
// that thread's queue until the thread retrieves and dispatches it.
#include <chrono>
#include <condition_variable>
#include <cwctype>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include <windows.h>

#include "vorksim/ui.h"

namespace {

std::wstring Lower(LPCWSTR s) {
    std::wstring out = s ? s : L"";
    for (auto& c : out) c = static_cast<wchar_t>(std::towlower(c));
    return out;
}

struct WindowClass {
    WNDCLASSW info{};
    std::wstring name;
};

struct Window {
    std::wstring className;
    std::wstring text;
    WNDPROC proc = nullptr;
    DWORD thread = 0;
    LONG_PTR userData = 0;
    LONG style = 0;
    HWND parent = nullptr;
};

class WindowManager {
public:
    static WindowManager& Instance() {
        static WindowManager* manager = new WindowManager;  // outlives static destructors
        return *manager;
    }

    std::mutex mutex;
    std::condition_variable posted;
    std::map<std::wstring, WindowClass> classes;  // by lower-case name
    std::unordered_map<HWND, Window> windows;
    std::unordered_map<DWORD, std::deque<MSG>> queues;
    uintptr_t nextWindow = 0x20000;

    HWND NewHandle() {
        nextWindow += 2;
        return reinterpret_cast<HWND>(nextWindow);
    }

    Window* Find(HWND hwnd) {
        auto it = windows.find(hwnd);
        return it == windows.end() ? nullptr : &it->second;
    }
};

const HWND kDesktop = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10010));

bool Matches(const MSG& m, HWND hwnd, UINT minMsg, UINT maxMsg) {
    if (hwnd == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) {
        if (m.hwnd != nullptr) return false;
    } else if (hwnd && m.hwnd != hwnd) {
        return false;
    }
    if (minMsg == 0 && maxMsg == 0) return true;
    return m.message >= minMsg && m.message <= maxMsg;
}

// Takes a matching message from the calling thread's queue; the lock is held.
bool TakeMessage(WindowManager& wm, LPMSG msg, HWND hwnd, UINT minMsg, UINT maxMsg, bool remove) {
    auto& queue = wm.queues[GetCurrentThreadId()];
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (!Matches(*it, hwnd, minMsg, maxMsg)) continue;
        *msg = *it;
        if (remove) queue.erase(it);
        return true;
    }
    return false;
}

}  // namespace

namespace vorksim {
size_t WindowCount() {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    return wm.windows.size();
}
size_t WindowClassCount() {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    return wm.classes.size();
}
size_t QueuedMessageCount(DWORD threadId) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    auto it = wm.queues.find(threadId);
    return it == wm.queues.end() ? 0 : it->second.size();
}
}  // namespace vorksim

extern "C" {

ATOM WINAPI RegisterClassW(const WNDCLASSW* wndClass) {
    if (!wndClass || !wndClass->lpszClassName || !wndClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    std::wstring key = Lower(wndClass->lpszClassName);
    if (wm.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass cls;
    cls.info = *wndClass;
    cls.name = wndClass->lpszClassName;
    cls.info.lpszClassName = nullptr;  // the caller's string need not outlive the call
    cls.info.lpszMenuName = nullptr;
    wm.classes[key] = cls;
    return static_cast<ATOM>(0xC000 + wm.classes.size());
}

BOOL WINAPI UnregisterClassW(LPCWSTR className, HINSTANCE instance) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    auto it = wm.classes.find(Lower(className));
    if (it == wm.classes.end() || it->second.info.hInstance != instance) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (const auto& [hwnd, window] : wm.windows) {
        if (window.className == it->first) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    wm.classes.erase(it);
    return TRUE;
}

BOOL WINAPI GetClassInfoW(HINSTANCE, LPCWSTR className, WNDCLASSW* wndClass) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    auto it = wm.classes.find(Lower(className));
    if (it == wm.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (wndClass) *wndClass = it->second.info;
    return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    auto& wm = WindowManager::Instance();
    HWND hwnd = nullptr;
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(wm.mutex);
        auto it = wm.classes.find(Lower(className));
        if (it == wm.classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        Window window;
        window.className = it->first;
        window.text = windowName ? windowName : L"";
        window.proc = it->second.info.lpfnWndProc;
        window.thread = GetCurrentThreadId();
        window.style = static_cast<LONG>(style);
        window.parent = parent;
        hwnd = wm.NewHandle();
        proc = window.proc;
        wm.windows[hwnd] = window;
    }
    CREATESTRUCTW cs{};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cx = width;
    cs.cy = height;
    cs.x = x;
    cs.y = y;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    if (proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    auto& wm = WindowManager::Instance();
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(wm.mutex);
        Window* window = wm.Find(hwnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (window->thread != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        proc = window->proc;
    }
    proc(hwnd, WM_DESTROY, 0, 0);
    proc(hwnd, WM_NCDESTROY, 0, 0);
    std::lock_guard<std::mutex> lock(wm.mutex);
    auto it = wm.windows.find(hwnd);
    if (it == wm.windows.end()) return TRUE;
    auto& queue = wm.queues[it->second.thread];
    for (auto m = queue.begin(); m != queue.end();) m = m->hwnd == hwnd ? queue.erase(m) : m + 1;
    wm.windows.erase(it);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    return wm.Find(hwnd) ? TRUE : FALSE;
}

int WINAPI GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    Window* window = wm.Find(hwnd);
    if (!window || !text || maxCount <= 0) return 0;
    size_t n = std::min<size_t>(window->text.size(), static_cast<size_t>(maxCount - 1));
    std::wmemcpy(text, window->text.data(), n);
    text[n] = L'\0';
    return static_cast<int>(n);
}

DWORD WINAPI GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    Window* window = wm.Find(hwnd);
    if (processId) *processId = 1;
    return window ? window->thread : 0;
}

HWND WINAPI GetDesktopWindow(void) { return kDesktop; }

LONG_PTR WINAPI SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    Window* window = wm.Find(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR old = 0;
    if (index == GWLP_USERDATA) {
        old = window->userData;
        window->userData = value;
    } else if (index == GWL_STYLE) {
        old = window->style;
        window->style = static_cast<LONG>(value);
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return old;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hwnd, int index) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    Window* window = wm.Find(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GWLP_USERDATA) return window->userData;
    if (index == GWL_STYLE) return window->style;
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

LONG WINAPI SetWindowLongW(HWND hwnd, int index, LONG value) {
    return static_cast<LONG>(SetWindowLongPtrW(hwnd, index, value));
}

LONG WINAPI GetWindowLongW(HWND hwnd, int index) { return static_cast<LONG>(GetWindowLongPtrW(hwnd, index)); }

LRESULT WINAPI DefWindowProcW(HWND hwnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(hwnd);
    return 0;
}

BOOL WINAPI PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    DWORD thread = GetCurrentThreadId();
    if (hwnd) {
        Window* window = wm.Find(hwnd);
        if (!window) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        thread = window->thread;
    }
    MSG msg{hwnd, message, wParam, lParam, GetTickCount(), {0, 0}};
    wm.queues[thread].push_back(msg);
    wm.posted.notify_all();
    return TRUE;
}

BOOL WINAPI PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    MSG msg{nullptr, message, wParam, lParam, GetTickCount(), {0, 0}};
    wm.queues[threadId].push_back(msg);
    wm.posted.notify_all();
    return TRUE;
}

LRESULT WINAPI SendMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = nullptr;
    {
        auto& wm = WindowManager::Instance();
        std::lock_guard<std::mutex> lock(wm.mutex);
        Window* window = wm.Find(hwnd);
        // Cross-thread sends are not simulated: a window's procedure runs only on
        // its owner thread.
        if (!window || window->thread != GetCurrentThreadId()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        proc = window->proc;
    }
    return proc(hwnd, message, wParam, lParam);
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
    auto& wm = WindowManager::Instance();
    std::lock_guard<std::mutex> lock(wm.mutex);
    return TakeMessage(wm, msg, hwnd, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageW(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax) {
    auto& wm = WindowManager::Instance();
    std::unique_lock<std::mutex> lock(wm.mutex);
    while (!TakeMessage(wm, msg, hwnd, filterMin, filterMax, true)) wm.posted.wait(lock);
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

LRESULT WINAPI DispatchMessageW(const MSG* msg) {
    if (!msg || !msg->hwnd) return 0;
    WNDPROC proc = nullptr;
    {
        auto& wm = WindowManager::Instance();
        std::lock_guard<std::mutex> lock(wm.mutex);
        Window* window = wm.Find(msg->hwnd);
        if (!window || window->thread != GetCurrentThreadId()) return 0;
        proc = window->proc;
    }
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
    PostThreadMessageW(GetCurrentThreadId(), WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

}  // extern "C"
