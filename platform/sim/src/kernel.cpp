// Kernel objects of the simulated platform: events, waits, tick count, critical
// sections and the thread's last error.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "vorksim/cameras.h"
#include "vorksim/kernel.h"

namespace {

struct EventObject {
    bool manualReset = false;
    bool signaled = false;
};

// All waits share one lock and one condition variable: waits are rare and short,
// and a single lock makes any-of and all-of waits trivially atomic.
class HandleTable {
public:
    static HandleTable& Instance() {
        static HandleTable* table = new HandleTable;  // outlives every static destructor
        return *table;
    }

    HANDLE Create(bool manualReset, bool initialState) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto event = std::make_shared<EventObject>();
        event->manualReset = manualReset;
        event->signaled = initialState;
        next_ += 4;
        HANDLE handle = reinterpret_cast<HANDLE>(next_);
        events_[handle] = std::move(event);
        return handle;
    }

    bool Close(HANDLE handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.erase(handle) != 0;
    }

    bool Set(HANDLE handle, bool signaled) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = events_.find(handle);
        if (it == events_.end()) return false;
        it->second->signaled = signaled;
        if (signaled) changed_.notify_all();
        return true;
    }

    DWORD Wait(DWORD count, const HANDLE* handles, bool waitAll, DWORD milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        std::vector<std::shared_ptr<EventObject>> events;
        for (DWORD i = 0; i < count; ++i) {
            auto it = events_.find(handles[i]);
            if (it == events_.end()) return WAIT_FAILED;
            events.push_back(it->second);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        for (;;) {
            DWORD result = TryAcquire(events, waitAll);
            if (result != WAIT_TIMEOUT) return result;
            if (milliseconds == 0) return WAIT_TIMEOUT;
            if (milliseconds == INFINITE) {
                changed_.wait(lock);
            } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
                result = TryAcquire(events, waitAll);
                return result;
            }
        }
    }

    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }

private:
    static DWORD TryAcquire(const std::vector<std::shared_ptr<EventObject>>& events, bool waitAll) {
        if (waitAll) {
            for (const auto& e : events)
                if (!e->signaled) return WAIT_TIMEOUT;
            for (const auto& e : events)
                if (!e->manualReset) e->signaled = false;
            return WAIT_OBJECT_0;
        }
        for (size_t i = 0; i < events.size(); ++i) {
            if (!events[i]->signaled) continue;
            if (!events[i]->manualReset) events[i]->signaled = false;
            return static_cast<DWORD>(WAIT_OBJECT_0 + i);
        }
        return WAIT_TIMEOUT;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::unordered_map<HANDLE, std::shared_ptr<EventObject>> events_;
    uintptr_t next_ = 0x1000;
};

thread_local DWORD t_lastError = 0;
std::atomic<DWORD> g_tickOffset{0};
std::atomic<DWORD> g_nextThreadId{0x100};
thread_local DWORD t_threadId = 0;

}  // namespace

namespace vorksim {
void SetTickCountOffset(DWORD offset) { g_tickOffset = offset; }
size_t OpenHandleCount() { return HandleTable::Instance().Count(); }
}  // namespace vorksim

extern "C" {

DWORD WINAPI GetLastError(void) { return t_lastError; }
void WINAPI SetLastError(DWORD err) { t_lastError = err; }

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR) {
    return HandleTable::Instance().Create(manualReset != FALSE, initialState != FALSE);
}

BOOL WINAPI SetEvent(HANDLE event) {
    if (HandleTable::Instance().Set(event, true)) return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI ResetEvent(HANDLE event) {
    if (HandleTable::Instance().Set(event, false)) return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    if (HandleTable::Instance().Close(object)) return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    DWORD result = HandleTable::Instance().Wait(count, handles, waitAll != FALSE, milliseconds);
    if (result == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
    return result;
}

DWORD WINAPI GetTickCount(void) {
    using namespace std::chrono;
    auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<DWORD>(static_cast<uint64_t>(ms)) + g_tickOffset.load();
}

// Each pause is recorded as the call "Sleep" with its milliseconds; a test that
// sets a fault on that call has the pause return at once.
void WINAPI Sleep(DWORD milliseconds) {
    if (FAILED(vorksim::CallFault("Sleep", milliseconds))) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD WINAPI GetCurrentThreadId(void) {
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(4);
    return t_threadId;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    *cs = CRITICAL_SECTION{};
    cs->DebugInfo = new std::recursive_mutex;
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    delete static_cast<std::recursive_mutex*>(cs->DebugInfo);
    cs->DebugInfo = nullptr;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
    static_cast<std::recursive_mutex*>(cs->DebugInfo)->lock();
    ++cs->RecursionCount;
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    if (!static_cast<std::recursive_mutex*>(cs->DebugInfo)->try_lock()) return FALSE;
    ++cs->RecursionCount;
    return TRUE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    --cs->RecursionCount;
    static_cast<std::recursive_mutex*>(cs->DebugInfo)->unlock();
}

}  // extern "C"
