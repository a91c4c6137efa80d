#include "pcsc/InFlight.h"

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

// Claims a slot for the calling thread on its first call and gives it back
// when the thread ends.
struct ThreadSlot {
    Slot* slot = nullptr;
    ThreadSlot() {
        for (Slot& s : g_slots) {
            bool expected = false;
            if (s.taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
                slot = &s;
                break;
            }
        }
    }
    ~ThreadSlot() {
        if (slot) {
            slot->entry.store(nullptr, std::memory_order_release);
            slot->taken.store(false, std::memory_order_release);
        }
    }
};

Slot* CurrentSlot() {
    thread_local ThreadSlot mine;
    return mine.slot;
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
