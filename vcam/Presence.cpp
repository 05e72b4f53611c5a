#include "Presence.h"

#include <objbase.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <vector>

#include "Filter.h"
#include "Registration.h"

namespace vcam {
namespace Presence {
namespace {

struct Timer {
    std::wstring instance;
    ULONGLONG due;
    bool unplug;  // otherwise the return
    std::optional<DWORD> backMs;
};

// Everything the watcher and the filters share, under `mutex`.
struct Shared {
    std::mutex mutex;
    std::vector<Filter*> filters;
    std::vector<Timer> timers;
    std::set<std::wstring> timed;  // cameras whose first run here set their timer
    bool watching = false;
    HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

Shared& State() {
    static Shared shared;
    return shared;
}

std::set<std::wstring> UnpluggedNow(HKEY key) {
    std::set<std::wstring> names;
    for (DWORD i = 0; key; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.insert(name);
    }
    return names;
}

// Tells the filters what the mark says; takes out the timers that are due and
// says how long until the next. False when there is nothing left to watch.
bool Scan(HKEY key, std::vector<Timer>& due, DWORD& wait) {
    const std::set<std::wstring> unplugged = UnpluggedNow(key);
    Shared& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (Filter* f : s.filters) {
        if (unplugged.count(f->Instance())) f->Unplugged();
        else f->Returned();
    }
    if (s.filters.empty() && s.timers.empty()) {
        s.watching = false;
        return false;
    }
    const ULONGLONG now = GetTickCount64();
    wait = INFINITE;
    auto late = std::stable_partition(s.timers.begin(), s.timers.end(), [&](const Timer& t) { return t.due > now; });
    due.assign(late, s.timers.end());
    s.timers.erase(late, s.timers.end());
    for (const Timer& t : s.timers) wait = std::min<DWORD>(wait, static_cast<DWORD>(t.due - now));
    return true;
}

void Fire(const Timer& t) {
    if (!t.unplug) {
        ReturnCamera(t.instance);
        return;
    }
    if (FAILED(UnplugCamera(t.instance)) || !t.backMs) return;
    std::lock_guard<std::mutex> lock(State().mutex);
    State().timers.push_back({t.instance, GetTickCount64() + *t.backMs, false, std::nullopt});
}

DWORD WINAPI Watch(void* module) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    for (;;) {
        // Armed before reading, so that no change between the two is missed.
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kUnpluggedKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_NOTIFY, nullptr,
                            &key, nullptr) == ERROR_SUCCESS)
            RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE);
        std::vector<Timer> due;
        DWORD wait = INFINITE;
        const bool more = Scan(key, due, wait);
        if (more && due.empty()) {
            HANDLE events[] = {changed, State().wake};
            WaitForMultipleObjects(2, events, FALSE, wait);
        }
        if (key) RegCloseKey(key);
        if (!more) break;
        for (const Timer& t : due) Fire(t);
    }
    CloseHandle(changed);
    if (SUCCEEDED(com)) CoUninitialize();
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

// Under the lock. The thread holds a reference to this module of its own, so
// that the module stays until the thread has left its code.
void EnsureWatching() {
    Shared& s = State();
    if (s.watching) return;
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Watch), &module)) return;
    HANDLE thread = CreateThread(nullptr, 0, &Watch, module, 0, nullptr);
    if (!thread) {
        FreeLibrary(module);
        return;
    }
    CloseHandle(thread);
    s.watching = true;
}

}  // namespace

void Join(Filter* filter) {
    Shared& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.filters.push_back(filter);
        EnsureWatching();
    }
    SetEvent(s.wake);
}

void Leave(Filter* filter) {
    Shared& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.filters.erase(std::remove(s.filters.begin(), s.filters.end(), filter), s.filters.end());
    }
    SetEvent(s.wake);
}

void FirstRun(const std::wstring& instance, DWORD afterMs, std::optional<DWORD> backMs) {
    Shared& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.timed.insert(instance).second) return;
        s.timers.push_back({instance, GetTickCount64() + afterMs, true, backMs});
        EnsureWatching();
    }
    SetEvent(s.wake);
}

}  // namespace Presence
}  // namespace vcam
