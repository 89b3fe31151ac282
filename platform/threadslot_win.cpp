// The platform's per-thread objects on the system's thread-local slots, destroyed by the module's
// DllMain: a thread's when it ends, the unloading thread's when the module is unloaded. When the
// process ends, nothing is destroyed: its other threads are gone, perhaps holding locks.
#include "platform/internal_win.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace platform::detail {
namespace {

struct TSlotEntry {
    DWORD Index;
    void (*Destroy)(void*);
};

constexpr int kMaxSlots = 8;
TSlotEntry gSlots[kMaxSlots];
int gSlotCount = 0;
std::mutex gSlotsLock;

void DestroyThreadObjects()
{
    TSlotEntry slots[kMaxSlots];
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(gSlotsLock); // a destructor may make a slot of its own
        count = gSlotCount;
        std::copy(gSlots, gSlots + count, slots);
    }
    for (int i = 0; i < count; ++i)
        if (void* object = TlsGetValue(slots[i].Index)) {
            TlsSetValue(slots[i].Index, nullptr);
            slots[i].Destroy(object);
        }
}

void FreeSlots()
{
    std::lock_guard<std::mutex> lock(gSlotsLock);
    for (int i = 0; i < gSlotCount; ++i)
        TlsFree(gSlots[i].Index);
    gSlotCount = 0;
}

} // namespace

TThreadSlot::TThreadSlot(void (*destroy)(void*)) : FIndex(TlsAlloc())
{
    std::lock_guard<std::mutex> lock(gSlotsLock);
    if (FIndex == TLS_OUT_OF_INDEXES || gSlotCount == kMaxSlots)
        throw std::runtime_error("no thread-local slot left for the platform");
    gSlots[gSlotCount++] = {FIndex, destroy};
}

void* TThreadSlot::Get() const { return TlsGetValue(FIndex); }
void TThreadSlot::Set(void* object) const { TlsSetValue(FIndex, object); }

} // namespace platform::detail

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    using namespace platform::detail;
    if (reason == DLL_THREAD_DETACH) {
        DestroyThreadObjects();
    } else if (reason == DLL_PROCESS_DETACH && !reserved) { // unloaded, not the process ending
        DestroyThreadObjects();
        FreeSlots();
    }
    return TRUE;
}
