// The reader manager soaked over the fake smart-card library: 16 readers,
// every one changing at every step (a card put in, taken out or gone mute,
// the reader unplugged or plugged back), the watcher's cycle at 1 ms, and an
// application that drains the queue only every few steps, as a busy one does.
// A step is made as soon as the manager has seen the last one, which takes
// one or two watcher cycles.
//
// What must hold after any number of changes: every event the manager queued
// was delivered or superseded by a newer one of its kind for its reader (the
// queue's latest-wins rule, applied to the events each change gives), the
// application's last view of every reader is the reader's real state, and
// nothing is left behind: no event queued, no context open, no leak (run it
// in the AddressSanitizer build).
//
// VARDEL_SOAK_CHANGES: number of changes (default 10000); VARDEL_SOAK_SEED:
// the seed of the changes (default 8).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FakePcscClient.h"
#include "pcsc/PCSC.h"

namespace {

using namespace pcsc;
using Clock = std::chrono::steady_clock;

constexpr int kReaders = 16;
constexpr std::chrono::milliseconds kCycle{1};
// A step the manager has not caught up with after this long is a hang (a
// guard, not a measure).
constexpr std::chrono::seconds kStepGuard{10};
// The application drains the queue every 1 to kLongestBusySpell steps.
constexpr int kLongestBusySpell = 6;

long FromEnvironment(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end && *end == '\0' && value > 0 ? value : fallback;
}

std::string Hex(const std::vector<unsigned char>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char b : bytes) {
        if (!text.empty()) text += ' ';
        text += kDigits[b >> 4];
        text += kDigits[b & 0x0F];
    }
    return text;
}

enum class Card { None, Available, Mute };

// One reader as the test made it, and the events it gives the application.
struct ReaderModel {
    std::string name;
    std::u16string wideName;
    bool present = true;
    Card card = Card::None;
    std::vector<unsigned char> atr;
    std::vector<std::string> queued;     // events the manager must have queued since the last drain
    std::vector<std::string> expected;   // events the application must have received
    std::vector<std::string> delivered;  // events it received
};

std::string CardEvent(const ReaderModel& reader) {
    switch (reader.card) {
        case Card::None: return "card-removed";
        case Card::Available: return "inserted " + Hex(reader.atr);
        case Card::Mute: return "error";
    }
    return "";
}

TCardState CardStateOf(Card card) {
    switch (card) {
        case Card::None: return TCardState::csNoCard;
        case Card::Available: return TCardState::csAvailable;
        case Card::Mute: return TCardState::csBadCard;
    }
    return TCardState::csUnknown;
}

// The event's kind: the queue keeps only the newest of a kind per reader.
std::string Kind(const std::string& event) {
    return event.substr(0, event.find(' '));
}

// The application's view of a reader after these events, as one text.
std::string ViewAfter(const std::vector<std::string>& events) {
    std::string reader = "never seen";
    std::string card = "card unknown";
    for (const std::string& e : events) {
        if (e == "found") {
            reader = "present";
            card = "card unknown";
        } else if (e == "removed") {
            reader = "absent";
            card = "card unknown";
        } else {
            card = e;
        }
    }
    return reader == "present" ? reader + ", " + card : reader;
}

std::string RealView(const ReaderModel& reader) {
    return reader.present ? "present, " + CardEvent(reader) : "absent";
}

// Events in `expected` that `delivered` lacks (by count of each event).
long Missing(const std::vector<std::string>& expected, const std::vector<std::string>& delivered) {
    std::map<std::string, long> count;
    for (const auto& e : expected) ++count[e];
    for (const auto& e : delivered) --count[e];
    long missing = 0;
    for (const auto& [event, n] : count) missing += n > 0 ? n : 0;
    return missing;
}

class Soak : public ::testing::Test {
protected:
    Soak() : lib(FAKE_PCSC_PATH) { SetMainThread(&loop); }
    ~Soak() override {
        manager.reset();
        loop.SetIdleHook(nullptr);
        SetMainThread(nullptr);
    }

    void SetCard(ReaderModel& reader, Card card) {
        reader.card = card;
        reader.atr.clear();
        if (card == Card::None) {
            lib.SetReaderState(reader.name, SCARD_STATE_EMPTY);
            return;
        }
        // Any length an ATR may have, any bytes after TS.
        std::uniform_int_distribution<int> length(2, 33);
        std::uniform_int_distribution<int> byte(0, 255);
        reader.atr.push_back(0x3B);
        for (int n = length(random); n > 1; --n)
            reader.atr.push_back(static_cast<unsigned char>(byte(random)));
        lib.SetReaderState(
            reader.name,
            card == Card::Mute ? SCARD_STATE_PRESENT | SCARD_STATE_MUTE : SCARD_STATE_PRESENT,
            reader.atr);
    }

    Card OtherCard(Card now) {
        std::uniform_int_distribution<int> pick(0, 1);
        const Card others[3][2] = {
            {Card::Available, Card::Mute}, {Card::None, Card::Mute}, {Card::None, Card::Available}};
        return others[static_cast<int>(now)][pick(random)];
    }

    // One change for every reader: plugged back if unplugged, else
    // unplugged (one time in eight) or its card changed.
    void MakeStep() {
        std::uniform_int_distribution<int> eighth(0, 7);
        std::uniform_int_distribution<int> anyCard(0, 2);
        for (ReaderModel& reader : readers) {
            if (!reader.present) {
                lib.AddReader(reader.name);
                order.push_back(&reader - readers.data());
                reader.present = true;
                SetCard(reader, static_cast<Card>(anyCard(random)));
                // Found at the listing, then its state at its first poll.
                reader.queued.push_back("found");
                reader.queued.push_back(CardEvent(reader));
            } else if (eighth(random) == 0) {
                lib.RemoveReader(reader.name);
                std::erase(order, &reader - readers.data());
                reader.present = false;
                reader.queued.push_back("removed");
            } else {
                SetCard(reader, OtherCard(reader.card));
                reader.queued.push_back(CardEvent(reader));
            }
            ++changes;
        }
        ++steps;
        stepStart = Clock::now();
    }

    // Has the manager seen every change made so far? Its list must hold the
    // readers in the service's order and each reader the card it holds.
    bool CaughtUp() const {
        const TReaderList& list = manager->ReaderList();
        if (list.size() != order.size()) return false;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const ReaderModel& reader = readers[order[i]];
            if (list[i].first != reader.wideName) return false;
            if (list[i].second->CardState() != CardStateOf(reader.card)) return false;
            if (reader.card == Card::Available &&
                list[i].second->ATR() != Bytes(reader.atr.begin(), reader.atr.end()))
                return false;
        }
        return true;
    }

    // What the manager holds against what the test made, for a stall.
    std::string Describe() const {
        static const char* kStates[] = {"unknown",   "exclusive", "shared",
                                        "available", "bad",       "no card"};
        std::string text = "listings done " + std::to_string(manager->ListingsDone()) +
                           ", events queued " + std::to_string(manager->PendingEvents()) +
                           "\nthe service lists:";
        for (std::ptrdiff_t i : order)
            text += " [" + readers[i].name + ": " + RealView(readers[i]) + "]";
        text += "\nthe manager holds:";
        for (const auto& [name, reader] : manager->ReaderList()) {
            const std::vector<unsigned char> atr(reader->ATR().begin(), reader->ATR().end());
            text += " [" + pcsc::Utf16ToUtf8(name) + ": " +
                    kStates[static_cast<int>(reader->CardState())] +
                    (atr.empty() ? "" : " " + Hex(atr)) + "]";
        }
        return text;
    }

    // The readers on which the manager and the service disagree, in short.
    std::string Mismatch() const {
        std::map<std::u16string, const TPCSCReader*> held;
        for (const auto& [name, reader] : manager->ReaderList()) held[name] = reader.get();
        std::string text;
        const auto add = [&text](const std::string& what) {
            text += (text.empty() ? "" : "; ") + what;
        };
        for (const ReaderModel& reader : readers) {
            const auto it = held.find(reader.wideName);
            if (!reader.present && it != held.end())
                add("the manager still holds " + reader.name + ", gone from the service");
            if (reader.present && it == held.end()) add("the manager lacks " + reader.name);
            if (reader.present && it != held.end() &&
                it->second->CardState() != CardStateOf(reader.card))
                add(reader.name + " holds " + CardEvent(reader) + ", not what the manager saw");
        }
        return text.empty() ? "the manager's list is out of the service's order" : text;
    }

    // The application's turn: everything queued is dispatched. Of the events
    // queued since the last turn, only the newest of each kind per reader
    // must come out.
    void Drain() {
        queuedSeen += static_cast<long>(manager->PendingEvents());
        while (manager->PendingEvents() > 0) manager->ProcessEvent();
        for (ReaderModel& reader : readers) {
            for (std::size_t i = 0; i < reader.queued.size(); ++i) {
                bool newer = false;
                for (std::size_t j = i + 1; j < reader.queued.size() && !newer; ++j)
                    newer = Kind(reader.queued[j]) == Kind(reader.queued[i]);
                if (!newer)
                    reader.expected.push_back(reader.queued[i]);
                else
                    ++superseded;
                ++queuedMade;
            }
            reader.queued.clear();
        }
        ++drains;
    }

    void Deliver(const std::u16string& name, const std::string& event) {
        const auto it = byName.find(name);
        if (it == byName.end()) {
            unknownDelivered.push_back(pcsc::Utf16ToUtf8(name) + ": " + event);
            return;
        }
        it->second->delivered.push_back(event);
    }

    void Attach() {
        manager->SetOnReaderFound([this](TPCSC*, const std::u16string& r) { Deliver(r, "found"); });
        manager->SetOnReaderRemoved(
            [this](TPCSC*, const std::u16string& r) { Deliver(r, "removed"); });
        manager->SetOnCardInserted([this](TPCSC*, const std::u16string& r, const Bytes& atr) {
            Deliver(r, "inserted " + Hex(std::vector<unsigned char>(atr.begin(), atr.end())));
        });
        manager->SetOnCardRemoved(
            [this](TPCSC*, const std::u16string& r) { Deliver(r, "card-removed"); });
        manager->SetOnCardError([this](TPCSC*, const std::u16string& r) { Deliver(r, "error"); });
    }

    fake::Library lib;
    PlainMainLoop loop;
    std::unique_ptr<TPCSC> manager;
    std::mt19937 random;
    std::vector<ReaderModel> readers;
    std::vector<std::ptrdiff_t> order;  // the service's listing order
    std::map<std::u16string, ReaderModel*> byName;
    std::vector<std::string> unknownDelivered;
    Clock::time_point stepStart;
    long changes = 0;
    long steps = 0;
    long drains = 0;
    long queuedMade = 0;  // events the changes must have queued
    long queuedSeen = 0;  // events found queued at the application's turns
    long superseded = 0;
};

}  // namespace

TEST_F(Soak, EveryQueuedEventIsDeliveredOrSupersededAndTheLastStateOfEveryReaderIsRight) {
    const long wanted = FromEnvironment("VARDEL_SOAK_CHANGES", 10000);
    const long seed = FromEnvironment("VARDEL_SOAK_SEED", 8);
    random.seed(static_cast<std::mt19937::result_type>(seed));
    const long wantedSteps = (wanted + kReaders - 1) / kReaders;

    readers.resize(kReaders);
    for (int i = 0; i < kReaders; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Soak Reader %02d", i);
        ReaderModel& reader = readers[i];
        reader.name = name;
        reader.wideName = pcsc::Utf8ToUtf16(name);
        byName[reader.wideName] = &reader;
        lib.AddReader(name);
        order.push_back(i);
        // Found by the first listing, empty at the first poll.
        reader.queued = {"found", "card-removed"};
    }

    manager = std::make_unique<TPCSC>(kCycle);
    ASSERT_TRUE(manager->Valid());
    Attach();

    std::uniform_int_distribution<int> busySpell(1, kLongestBusySpell);
    int untilDrain = busySpell(random);
    bool finished = false;
    std::string stalled;
    loop.SetIdleHook([&] {
        if (finished || !stalled.empty()) return;
        if (!CaughtUp()) {
            if (Clock::now() - stepStart > kStepGuard)
                stalled = "the manager did not catch up with step " + std::to_string(steps);
            return;
        }
        if (steps == wantedSteps) {
            Drain();
            finished = true;
            return;
        }
        if (--untilDrain == 0) {
            Drain();
            untilDrain = busySpell(random);
        }
        MakeStep();
    });

    const auto start = Clock::now();
    stepStart = start;
    manager->Start();
    // In slices: a watcher that died would never wake the loop again.
    while (!finished && stalled.empty()) {
        const long listCalls = lib.Calls("SCardListReaders");
        loop.RunUntil([&] { return finished || !stalled.empty(); },
                      Clock::now() + std::chrono::seconds(1));
        if (!finished && stalled.empty() && Clock::now() - stepStart > kStepGuard)
            stalled = "no progress at step " + std::to_string(steps) +
                      "; reader listings in the last second: " +
                      std::to_string(lib.Calls("SCardListReaders") - listCalls);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!stalled.empty()) {
        std::printf(
            "[soak] changes=%ld steps=%ld readers=%d cycle_ms=%d queued=%ld seed=%ld seconds=%.1f\n"
            "[soak-stall] step %ld: %s\n",
            changes, steps, kReaders, static_cast<int>(kCycle.count()), queuedMade, seed, seconds,
            steps, Mismatch().c_str());
        std::fflush(stdout);
        FAIL() << stalled << "\n" << Describe();
    }

    long delivered = 0;
    long lost = 0;
    for (const ReaderModel& reader : readers) {
        delivered += static_cast<long>(reader.delivered.size());
        lost += Missing(reader.expected, reader.delivered);
        EXPECT_EQ(ViewAfter(reader.delivered), RealView(reader))
            << reader.name << ": the application's last view";
        if (reader.delivered != reader.expected) {
            std::size_t i = 0;
            while (i < reader.delivered.size() && i < reader.expected.size() &&
                   reader.delivered[i] == reader.expected[i])
                ++i;
            ADD_FAILURE() << reader.name << ": " << reader.delivered.size() << " events delivered, "
                          << reader.expected.size() << " expected; first difference at " << i
                          << ": '" << (i < reader.delivered.size() ? reader.delivered[i] : "(none)")
                          << "' instead of '"
                          << (i < reader.expected.size() ? reader.expected[i] : "(none)") << "'";
        }
    }
    EXPECT_EQ(unknownDelivered, std::vector<std::string>{})
        << "events for readers that never existed";
    EXPECT_EQ(queuedSeen, queuedMade)
        << "the manager queued one event per change it saw, and no other";
    EXPECT_EQ(delivered + superseded, queuedMade) << "every queued event delivered or superseded";
    EXPECT_EQ(manager->PendingEvents(), 0u);

    // Cycles: the watcher lists once a cycle, each listing of the manager
    // makes two calls (size, then names).
    const long cycles = lib.Calls("SCardListReaders") - 2L * manager->ListingsDone();
    manager.reset();
    EXPECT_EQ(lib.OpenContexts(), 0) << "every context released once the manager is gone";

    std::printf(
        "[soak] changes=%ld steps=%ld readers=%d cycle_ms=%d cycles=%ld queued=%ld delivered=%ld "
        "superseded=%ld lost=%ld drains=%ld seed=%ld seconds=%.1f\n",
        changes, steps, kReaders, static_cast<int>(kCycle.count()), cycles, queuedMade, delivered,
        superseded, lost, drains, seed, seconds);
    std::fflush(stdout);
}

// What the soak above runs into now and then, made to happen every time: a
// reader list that changes between the watcher's look at it and the
// manager's own listing, then changes back to what the watcher saw.
TEST_F(Soak, AReaderThatComesBackWhileTheManagerListsAndThenGoesIsReportedGone) {
    lib.AddReader("A");
    lib.AddReader("B");
    manager = std::make_unique<TPCSC>(kCycle);
    std::vector<std::string> events;
    manager->SetOnReaderFound([&](TPCSC*, const std::u16string& r) {
        events.push_back("found " + pcsc::Utf16ToUtf8(r));
    });
    manager->SetOnReaderRemoved([&](TPCSC*, const std::u16string& r) {
        events.push_back("removed " + pcsc::Utf16ToUtf8(r));
    });
    loop.SetIdleHook([&] {
        while (manager->PendingEvents() > 0) manager->ProcessEvent();
    });
    bool bounce = false;
    manager->SetOnReaderListChanged([&](TPCSC*) {
        // The watcher has seen B go; B is plugged back before the manager lists.
        if (!bounce) return;
        bounce = false;
        lib.AddReader("B");
    });
    const auto runUntil = [&](const std::function<bool()>& done) {
        return loop.RunUntil(done, Clock::now() + std::chrono::seconds(10));
    };
    const auto has = [&](const std::string& event) {
        return std::find(events.begin(), events.end(), event) != events.end();
    };
    manager->Start();
    ASSERT_TRUE(runUntil([&] { return has("found A") && has("found B"); }));

    bounce = true;
    lib.RemoveReader("B");
    // The listing follows the callback within the same hand-over.
    ASSERT_TRUE(runUntil([&] { return !bounce; }));
    EXPECT_NE(manager->GetPCSCReader(u"B"), nullptr) << "B was back when the manager listed";

    // B unplugged for good: the list is again what the watcher last saw.
    lib.RemoveReader("B");
    EXPECT_TRUE(runUntil([&] { return has("removed B"); }))
        << "B is gone from the service, not from the manager";
    EXPECT_EQ(manager->GetPCSCReader(u"B"), nullptr);
}
