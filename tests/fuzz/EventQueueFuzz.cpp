// The reader and card event queue under random post and dispatch sequences,
// checked step by step against a plain model of its rules:
//   - dispatch takes the oldest entry out, whatever becomes of it;
//   - an event is delivered only when no newer event of its kind for its
//     reader is queued (latest wins), the scan stopping at, and removing,
//     the first empty entry;
//   - while the callback of any kind but a card removal runs, nested
//     dispatch delivers card removals only;
//   - a throwing callback leaves the rest queued and the guard cleared.
//
// Input: a sequence of operations, one byte each followed by its arguments;
// callbacks read their own actions (post, nested dispatch, throw, unset
// themselves) from the same stream when they run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "pcsc/Events.h"

namespace {

using pcsc::TEventType;

// Names that differ only in case are different readers; the empty name is a
// name like any other to the queue.
const std::u16string kNames[] = {u"Lecteur A",
                                 u"lecteur a",
                                 u"Lecteur B",
                                 u"",
                                 u"Lecteur \u00e9 \u4e2d\u6587 \U0001F600",
                                 u"Lab Reader 0 00 00"};
constexpr std::size_t kNameCount = sizeof kNames / sizeof kNames[0];

constexpr int kCardInsert = 1, kCardRemove = 2;
constexpr int kMaxPosts = 400;
constexpr int kMaxDepth = 8;

struct ThrownByCallback {};

// The queue with its protected Append reachable, for the empty entries and
// kind-less events that only a subclass can queue.
class Queue : public pcsc::TPCSCEventList {
public:
    using TPCSCEventList::Append;
};

struct ModelEvent {
    bool empty = false;  // a null entry
    int kind = 0;
    std::u16string name;
    std::u16string atr;
};

std::u16string PlainHex(const pcsc::Bytes& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", b);
        if (!text.empty()) text += ' ';
        text += digits;
    }
    return std::u16string(text.begin(), text.end());
}

class Harness {
public:
    explicit Harness(fuzz::ByteReader& in) : in_(in) { Recreate(); }

    void Run() {
        while (!in_.Empty()) {
            switch (in_.Below(8)) {
                case 0:
                case 1: PostFromInput(); break;
                case 2: PostOddEntry(in_.Bit()); break;
                case 3: DispatchCatching(false); break;
                case 4: DispatchCatching(true); break;
                case 5: Subscribe(1 + static_cast<int>(in_.Below(5)), in_.Bit()); break;
                case 6:
                    // The idle loop: one event per pass until none is left.
                    for (int passes = 0; queue_->Count() > 0 && passes < 1000; ++passes)
                        DispatchCatching(false);
                    break;
                case 7: Recreate(); break;
            }
            FUZZ_CHECK(queue_->Count() == model_.size());
            FUZZ_CHECK(!processing_);
        }
        // Whatever is left is dispatched in the end (no input is left for
        // the callbacks' actions, so none throws).
        DispatchCatching(true);
        FUZZ_CHECK(queue_->Count() == 0);
    }

private:
    // ---- the model ----------------------------------------------------------

    bool ModelHasPending(int kind, const std::u16string& name) {
        const std::size_t count = model_.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (model_[i].empty) {
                model_.erase(model_.begin() + static_cast<std::ptrdiff_t>(i));
                return false;
            }
            if (model_[i].kind == kind && model_[i].name == name) return true;
        }
        return false;
    }

    // Takes the oldest entry out as one dispatch does; the event when it is
    // to reach a callback.
    std::optional<ModelEvent> ModelTakeOldest() {
        FUZZ_CHECK(!model_.empty());
        ModelEvent event = model_.front();
        model_.pop_front();
        if (event.empty || event.kind < 1 || event.kind > 5) return std::nullopt;
        if (ModelHasPending(event.kind, event.name)) return std::nullopt;   // superseded
        if (event.kind != kCardRemove && processing_) return std::nullopt;  // refused
        if (!subscribed_[event.kind]) return std::nullopt;
        return event;
    }

    // ---- driving the queue --------------------------------------------------

    void Recreate() {
        queue_ = std::make_unique<Queue>();  // the old one goes with its events
        model_.clear();
        for (int kind = 1; kind <= 5; ++kind) Subscribe(kind, true);
    }

    void Subscribe(int kind, bool on) {
        subscribed_[kind] = on;
        const auto text = [this, kind](const std::u16string& name) { Delivered(kind, name, {}); };
        switch (kind) {
            case 1: {
                const auto withAtr = [this](const std::u16string& name, const std::u16string& atr) {
                    Delivered(1, name, atr);
                };
                queue_->SetOnCardInsert(on ? pcsc::TPCSCCardInsertProc(withAtr) : nullptr);
                break;
            }
            case 2: queue_->SetOnCardRemove(on ? pcsc::TPCSCCardRemoveProc(text) : nullptr); break;
            case 3: queue_->SetOnCardError(on ? pcsc::TPCSCCardErrorProc(text) : nullptr); break;
            case 4:
                queue_->SetOnReaderFound(on ? pcsc::TPCSCReaderFoundProc(text) : nullptr);
                break;
            case 5:
                queue_->SetOnReaderRemoved(on ? pcsc::TPCSCReaderRemovedProc(text) : nullptr);
                break;
        }
    }

    void Post(int kind, const std::u16string& name, const pcsc::Bytes& atr) {
        if (posts_ >= kMaxPosts) return;
        ++posts_;
        posting_ = true;
        switch (kind) {
            case 1: queue_->CardInsertedAsync(nullptr, name, atr); break;
            case 2: queue_->CardRemovedAsync(nullptr, name); break;
            case 3: queue_->CardErrorAsync(nullptr, name); break;
            case 4: queue_->ReaderFoundAsync(nullptr, name); break;
            case 5: queue_->ReaderRemovedAsync(nullptr, name); break;
        }
        posting_ = false;
        model_.push_back(ModelEvent{false, kind, name, kind == kCardInsert ? PlainHex(atr) : u""});
    }

    void PostFromInput() {
        const int kind = 1 + static_cast<int>(in_.Below(5));
        const std::u16string& name = kNames[in_.Below(kNameCount)];
        pcsc::Bytes atr;
        if (kind == kCardInsert) {
            const std::size_t length = in_.Below(8);
            for (std::size_t i = 0; i < length; ++i) atr.push_back(in_.Byte());
        }
        Post(kind, name, atr);
    }

    // An empty entry, or an event of no kind: neither is ever delivered.
    void PostOddEntry(bool empty) {
        if (posts_ >= kMaxPosts) return;
        ++posts_;
        queue_->Append(empty ? nullptr : std::make_unique<pcsc::TPCSCEvent>());
        model_.push_back(ModelEvent{empty, 0, u"", u""});
    }

    // One ProcessEvent (all = false) or ProcessAllEvents call, checked.
    void Dispatch(bool all) {
        frames_.push_back(Frame{all, false});
        try {
            if (all)
                queue_->ProcessAllEvents();
            else
                queue_->ProcessEvent();
        } catch (...) {
            // Only a callback throws, so this call did take its event out.
            const Frame frame = frames_.back();
            frames_.pop_back();
            if (!frame.all) FUZZ_CHECK(frame.taken);
            FUZZ_CHECK(queue_->Count() == model_.size());
            throw;
        }
        const Frame frame = frames_.back();
        frames_.pop_back();
        if (frame.all) {
            // The loop ran until the queue was empty: what it took out
            // without a callback must be what the model would not deliver.
            while (!model_.empty())
                FUZZ_CHECK_MSG(!ModelTakeOldest(), "ProcessAllEvents lost a delivery");
            FUZZ_CHECK(queue_->Count() == 0);
        } else if (!frame.taken && !model_.empty()) {
            FUZZ_CHECK_MSG(!ModelTakeOldest(), "ProcessEvent lost a delivery");
        }
        FUZZ_CHECK(queue_->Count() == model_.size());
    }

    void DispatchCatching(bool all) {
        try {
            Dispatch(all);
        } catch (const ThrownByCallback&) {
        }
    }

    // Every callback ends here.
    void Delivered(int kind, const std::u16string& name, const std::u16string& atr) {
        FUZZ_CHECK_MSG(!posting_, "a posting operation called a callback");
        FUZZ_CHECK_MSG(!frames_.empty(), "a callback ran outside dispatch");
        Frame& frame = frames_.back();
        std::optional<ModelEvent> expected;
        if (!frame.all) {
            FUZZ_CHECK_MSG(!frame.taken, "one ProcessEvent delivered twice");
            frame.taken = true;
            expected = ModelTakeOldest();
        } else {
            // Entries that ProcessAllEvents took out before this one were
            // not to be delivered.
            while (!expected) {
                FUZZ_CHECK_MSG(!model_.empty(), "a delivery the model does not have");
                expected = ModelTakeOldest();
            }
        }
        const auto describe = [](int k, const std::u16string& name, const std::u16string& atr) {
            return "kind " + std::to_string(k) + " for " + fuzz::Printable(name) + " [" +
                   fuzz::Printable(atr) + "]";
        };
        FUZZ_CHECK_MSG(expected.has_value(),
                       "a delivery the model refuses: " + describe(kind, name, atr));
        FUZZ_CHECK_MSG(expected->kind == kind && expected->name == name && expected->atr == atr,
                       "delivered " + describe(kind, name, atr) + ", expected " +
                           describe(expected->kind, expected->name, expected->atr));

        const bool guarded = kind != kCardRemove;
        if (guarded) {
            FUZZ_CHECK(!processing_);
            processing_ = true;
        }
        struct Clear {
            bool& flag;
            bool guarded;
            ~Clear() {
                if (guarded) flag = false;
            }
        } clear{processing_, guarded};
        CallbackActions(kind);
    }

    void CallbackActions(int kind) {
        const std::size_t count = in_.Below(4);
        for (std::size_t i = 0; i < count; ++i) {
            switch (in_.Below(8)) {
                case 0:
                case 1: PostFromInput(); break;
                case 2:
                case 3: {
                    // A nested message loop dispatching again.
                    const bool all = in_.Bit();
                    const bool catches = in_.Bit();
                    if (frames_.size() >= kMaxDepth) break;
                    if (catches)
                        DispatchCatching(all);
                    else
                        Dispatch(all);
                    break;
                }
                case 4: throw ThrownByCallback{};
                case 5:
                    Subscribe(kind, false);  // a callback that removes itself
                    break;
                case 6: Subscribe(1 + static_cast<int>(in_.Below(5)), in_.Bit()); break;
                case 7:
                    // The same kind again, as a reader going back and forth.
                    Post(kind, kNames[in_.Below(kNameCount)], pcsc::Bytes{0x3B, 0x00});
                    break;
            }
        }
    }

    struct Frame {
        bool all;
        bool taken;  // this ProcessEvent call took its event out for a callback
    };

    fuzz::ByteReader& in_;
    std::unique_ptr<Queue> queue_;
    std::deque<ModelEvent> model_;
    bool subscribed_[6] = {};
    bool processing_ = false;
    bool posting_ = false;
    int posts_ = 0;
    std::vector<Frame> frames_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader in(data, size);
    Harness harness(in);
    harness.Run();
    return 0;
}
