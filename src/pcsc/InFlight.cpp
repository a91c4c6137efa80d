#include "pcsc/InFlight.h"

#include <pthread.h>

#include <array>
#include <atomic>

namespace pcsc {
namespace {

struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<const char*> entry{nullptr};
};

// More threads than this calling the service at once is not a case of this
// tool (it has the main thread and one watcher per manager); a thread that
// finds no free slot simply goes unrecorded.
constexpr std::size_t kSlots = 128;
std::array<Slot, kSlots> g_slots;

void ReleaseSlot(void* slot) {
    auto* s = static_cast<Slot*>(slot);
    s->entry.store(nullptr, std::memory_order_release);
    s->taken.store(false, std::memory_order_release);
}

// A thread's slot is kept under a thread-specific key whose destructor gives
// it back when the thread ends. Not a thread_local object with a destructor:
// MinGW-w64's emulated TLS may free such an object's storage before its
// destructor runs, which then writes to freed memory.
struct SlotKey {
    pthread_key_t key{};
    bool made = false;
    SlotKey() { made = pthread_key_create(&key, ReleaseSlot) == 0; }
};

// Claims a slot for the calling thread on its first call; null when no key
// could be made or every slot is taken (the thread then goes unrecorded).
Slot* CurrentSlot() {
    static SlotKey slotKey;
    if (!slotKey.made) return nullptr;
    if (void* mine = pthread_getspecific(slotKey.key)) return static_cast<Slot*>(mine);
    for (Slot& s : g_slots) {
        bool expected = false;
        if (s.taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            if (pthread_setspecific(slotKey.key, &s) != 0) {
                ReleaseSlot(&s);
                return nullptr;
            }
            return &s;
        }
    }
    return nullptr;
}

}  // namespace

InFlightCall::InFlightCall(const char* entry) noexcept : slot_(CurrentSlot()) {
    if (slot_) static_cast<Slot*>(slot_)->entry.store(entry, std::memory_order_release);
}

InFlightCall::~InFlightCall() {
    if (slot_) static_cast<Slot*>(slot_)->entry.store(nullptr, std::memory_order_release);
}

std::vector<std::string> ServiceCallsInFlight() {
    std::vector<std::string> names;
    for (const Slot& s : g_slots) {
        if (const char* e = s.entry.load(std::memory_order_acquire)) names.emplace_back(e);
    }
    return names;
}

}  // namespace pcsc
