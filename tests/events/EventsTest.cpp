// The reader and card event queue: posting, latest-wins dispatch, the guard
// against delivery inside a running callback, re-entry, exceptions and the
// ownership of queued events.
#include "pcsc/Events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "pcsc/TextConversions.h"

namespace pcsc {
namespace {

using Log = std::vector<std::string>;

std::string Narrow(const std::u16string& Text) {
    return Utf16ToUtf8(Text);
}

// Opens the protected Append, to queue entries that posting never makes:
// empty entries, evNone and unknown kinds, counted events.
class TTestEventList : public TPCSCEventList {
public:
    using TPCSCEventList::Append;
};

// An event of any kind; optionally counts how many instances are alive, to
// show that the queue frees each event exactly once.
class TTestEvent : public TPCSCEvent {
public:
    TTestEvent(TEventType Kind, const std::u16string& Name, int* Live = nullptr) : FLive(Live) {
        FEventType = Kind;
        FReaderName = Name;
        if (FLive) ++*FLive;
    }
    ~TTestEvent() override {
        if (FLive) --*FLive;
    }

private:
    int* FLive;
};

// Writes one line per delivered event, in delivery order. Inside then runs
// within the callback, so tests can re-enter the queue or throw from there.
struct TRecorder {
    Log Lines;
    std::function<void()> Inside;

    void Note(std::string Line) {
        Lines.push_back(std::move(Line));
        if (Inside) Inside();
    }

    void Attach(TPCSCEventList& Queue) {
        Queue.SetOnCardInsert([this](const std::u16string& Name, const std::u16string& Atr) {
            Note("insert " + Narrow(Name) + " [" + Narrow(Atr) + "]");
        });
        Queue.SetOnCardRemove(
            [this](const std::u16string& Name) { Note("remove " + Narrow(Name)); });
        Queue.SetOnCardError([this](const std::u16string& Name) { Note("error " + Narrow(Name)); });
        Queue.SetOnReaderFound(
            [this](const std::u16string& Name) { Note("found " + Narrow(Name)); });
        Queue.SetOnReaderRemoved(
            [this](const std::u16string& Name) { Note("removed " + Narrow(Name)); });
    }

    // Hands back what was written since the last call.
    Log Take() { return std::exchange(Lines, {}); }
};

// Posts one event of a kind through the queue's own posting operations.
void Post(TPCSCEventList& Queue, TEventType Kind, const std::u16string& Name,
          const Bytes& Atr = {}) {
    switch (Kind) {
        case TEventType::evCardInsert: Queue.CardInsertedAsync(nullptr, Name, Atr); break;
        case TEventType::evCardRemove: Queue.CardRemovedAsync(nullptr, Name); break;
        case TEventType::evCardError: Queue.CardErrorAsync(nullptr, Name); break;
        case TEventType::evReaderFound: Queue.ReaderFoundAsync(nullptr, Name); break;
        case TEventType::evReaderRemoved: Queue.ReaderRemovedAsync(nullptr, Name); break;
        default: FAIL() << "no posting operation for this kind";
    }
}

std::string Describe(TEventType Kind, const std::string& Name, const std::string& Atr = "") {
    switch (Kind) {
        case TEventType::evCardInsert: return "insert " + Name + " [" + Atr + "]";
        case TEventType::evCardRemove: return "remove " + Name;
        case TEventType::evCardError: return "error " + Name;
        case TEventType::evReaderFound: return "found " + Name;
        case TEventType::evReaderRemoved: return "removed " + Name;
        default: return "?";
    }
}

constexpr std::array<TEventType, 5> kAllKinds = {TEventType::evCardInsert, TEventType::evCardRemove,
                                                 TEventType::evCardError, TEventType::evReaderFound,
                                                 TEventType::evReaderRemoved};
constexpr std::array<TEventType, 4> kGuardedKinds = {
    TEventType::evCardInsert, TEventType::evCardError, TEventType::evReaderFound,
    TEventType::evReaderRemoved};

TEST(EventObjects, CarryTheirKindReaderAndAtr) {
    static_assert(sizeof(TEventType) == 1);
    static_assert(static_cast<int>(TEventType::evNone) == 0);
    static_assert(static_cast<int>(TEventType::evCardInsert) == 1);
    static_assert(static_cast<int>(TEventType::evCardRemove) == 2);
    static_assert(static_cast<int>(TEventType::evCardError) == 3);
    static_assert(static_cast<int>(TEventType::evReaderFound) == 4);
    static_assert(static_cast<int>(TEventType::evReaderRemoved) == 5);

    const TPCSCEvent None;
    EXPECT_EQ(None.EventType(), TEventType::evNone);
    EXPECT_EQ(None.ReaderName(), u"");
    EXPECT_EQ(None.ATR(), u"");

    const TPCSCCardInsertEvent Insert(u"Reader 1", u"3B 6F 00");
    EXPECT_EQ(Insert.EventType(), TEventType::evCardInsert);
    EXPECT_EQ(Insert.ReaderName(), u"Reader 1");
    EXPECT_EQ(Insert.ATR(), u"3B 6F 00");

    const TPCSCCardRemoveEvent Remove(u"R2");
    const TPCSCCardErrorEvent Error(u"R3");
    const TPCSCReaderFoundEvent Found(u"R4");
    const TPCSCReaderRemovedEvent Removed(u"R5");
    const std::array<const TPCSCEvent*, 4> Others = {&Remove, &Error, &Found, &Removed};
    const std::array<TEventType, 4> Kinds = {TEventType::evCardRemove, TEventType::evCardError,
                                             TEventType::evReaderFound,
                                             TEventType::evReaderRemoved};
    const std::array<std::u16string, 4> Names = {u"R2", u"R3", u"R4", u"R5"};
    for (std::size_t i = 0; i < Others.size(); ++i) {
        EXPECT_EQ(Others[i]->EventType(), Kinds[i]);
        EXPECT_EQ(Others[i]->ReaderName(), Names[i]);
        EXPECT_EQ(Others[i]->ATR(), u"");
    }
}

TEST(EventQueuePosting, OnlyAppendsAndKeepsTheAtrAsHexText) {
    TPCSCEventList Queue;
    TRecorder Rec;
    Rec.Attach(Queue);

    Queue.CardInsertedAsync(nullptr, u"A", Bytes{0x3B, 0x6F, 0x00});
    Queue.CardInsertedAsync(nullptr, u"B", Bytes{});
    Queue.CardInsertedAsync(nullptr, u"C", Bytes{0xab, 0x0c});
    // Posting neither merges, drops nor delivers.
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.CardRemovedAsync(nullptr, u"A");
    Queue.CardErrorAsync(nullptr, u"A");
    Queue.ReaderRemovedAsync(nullptr, u"A");
    EXPECT_EQ(Queue.Count(), 8u);
    EXPECT_TRUE(Rec.Lines.empty());

    Queue.ProcessAllEvents();
    EXPECT_EQ(Rec.Take(), (Log{"insert A [3B 6F 00]", "insert B []", "insert C [AB 0C]", "found A",
                               "remove A", "error A", "removed A"}));
    EXPECT_EQ(Queue.Count(), 0u);
}

TEST(EventQueueDispatch, EmptyQueueDoesNothing) {
    TPCSCEventList Queue;
    TRecorder Rec;
    Rec.Attach(Queue);
    Queue.ProcessEvent();
    Queue.ProcessAllEvents();
    EXPECT_EQ(Queue.Count(), 0u);
    EXPECT_TRUE(Rec.Lines.empty());
}

TEST(EventQueueDispatch, LatestEventOfAKindForAReaderWins) {
    TPCSCEventList Queue;
    TRecorder Rec;
    Rec.Attach(Queue);

    // One event per call, oldest first; a superseded one is taken out unsent.
    Queue.CardInsertedAsync(nullptr, u"A", Bytes{0x3B, 0x00});
    Queue.CardRemovedAsync(nullptr, u"A");
    Queue.CardInsertedAsync(nullptr, u"A", Bytes{0x3B, 0x11});
    Queue.ReaderFoundAsync(nullptr, u"B");
    const std::array<Log, 4> Expected = {Log{}, Log{"remove A"}, Log{"insert A [3B 11]"},
                                         Log{"found B"}};
    for (std::size_t i = 0; i < Expected.size(); ++i) {
        Queue.ProcessEvent();
        EXPECT_EQ(Rec.Take(), Expected[i]) << "call " << i + 1;
        EXPECT_EQ(Queue.Count(), 3 - i);
    }

    // Other kinds in between keep their place.
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.ReaderRemovedAsync(nullptr, u"A");
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.ProcessAllEvents();
    EXPECT_EQ(Rec.Take(), (Log{"removed A", "found A"}));

    // Every kind, the card removal included, is superseded by its own kind
    // only, and is delivered at the position of the newest one.
    for (TEventType Kind : kAllKinds) {
        Post(Queue, Kind, u"R");
        Queue.ReaderFoundAsync(nullptr, u"Other");
        Post(Queue, Kind, u"R");
        Queue.ProcessAllEvents();
        EXPECT_EQ(Rec.Take(), (Log{"found Other", Describe(Kind, "R")}))
            << "kind " << static_cast<int>(Kind);
    }

    Queue.CardRemovedAsync(nullptr, u"A");
    Queue.CardRemovedAsync(nullptr, u"A");
    Queue.ProcessAllEvents();
    EXPECT_EQ(Rec.Take(), (Log{"remove A"}));
}

TEST(EventQueueDispatch, ReadersAreComparedByTheirWholeExactName) {
    TPCSCEventList Queue;
    TRecorder Rec;
    Rec.Attach(Queue);
    for (TEventType Kind : kAllKinds) {
        // Letter case, a trailing blank and a prefix all make another reader.
        Post(Queue, Kind, u"Lecteur");
        Post(Queue, Kind, u"lecteur");
        Post(Queue, Kind, u"Lecteur ");
        Post(Queue, Kind, u"Lecteur 1");
        Post(Queue, Kind, u"Lecteu");
        Queue.ProcessAllEvents();
        EXPECT_EQ(Rec.Take(), (Log{Describe(Kind, "Lecteur"), Describe(Kind, "lecteur"),
                                   Describe(Kind, "Lecteur "), Describe(Kind, "Lecteur 1"),
                                   Describe(Kind, "Lecteu")}))
            << "kind " << static_cast<int>(Kind);
    }
}

TEST(EventQueueDispatch, UnsetCallbacksStillTakeOneEventPerCall) {
    TPCSCEventList Queue;
    TRecorder Rec;
    Rec.Attach(Queue);
    // Unset them all again through the setters.
    Queue.SetOnCardInsert({});
    Queue.SetOnCardRemove({});
    Queue.SetOnCardError({});
    Queue.SetOnReaderFound({});
    Queue.SetOnReaderRemoved({});
    EXPECT_FALSE(Queue.OnCardInsert());
    EXPECT_FALSE(Queue.OnCardRemove());
    EXPECT_FALSE(Queue.OnCardError());
    EXPECT_FALSE(Queue.OnReaderFound());
    EXPECT_FALSE(Queue.OnReaderRemoved());

    for (TEventType Kind : kAllKinds) Post(Queue, Kind, u"A");
    for (std::size_t Left = 5; Left > 0; --Left) {
        Queue.ProcessEvent();
        EXPECT_EQ(Queue.Count(), Left - 1);
    }
    EXPECT_TRUE(Rec.Lines.empty());

    // Only the set callback is called; the others' events go unsent.
    Queue.SetOnReaderFound(
        [&Rec](const std::u16string& Name) { Rec.Note("only " + Narrow(Name)); });
    EXPECT_TRUE(Queue.OnReaderFound());
    for (TEventType Kind : kAllKinds) Post(Queue, Kind, u"A");
    Queue.ProcessAllEvents();
    EXPECT_EQ(Rec.Take(), (Log{"only A"}));
}

TEST(EventQueueDispatch, EmptyEntriesAndUnknownKindsAreDroppedSilently) {
    TTestEventList Queue;
    TRecorder Rec;
    Rec.Attach(Queue);

    // At the head, an empty entry is taken out without delivery.
    Queue.Append(nullptr);
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.ProcessEvent();
    EXPECT_EQ(Queue.Count(), 1u);
    EXPECT_TRUE(Rec.Lines.empty());
    Queue.ProcessEvent();
    EXPECT_EQ(Rec.Take(), (Log{"found A"}));

    // A pending scan that meets an empty entry deletes it and looks no further,
    // so the newer event behind it does not supersede this one.
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.Append(nullptr);
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.ProcessEvent();
    EXPECT_EQ(Rec.Take(), (Log{"found A"}));
    EXPECT_EQ(Queue.Count(), 1u);
    Queue.ProcessEvent();
    EXPECT_EQ(Rec.Take(), (Log{"found A"}));

    // A scan that finds a newer event first leaves the empty entry behind it.
    Queue.CardErrorAsync(nullptr, u"A");
    Queue.CardErrorAsync(nullptr, u"A");
    Queue.Append(nullptr);
    Queue.ProcessEvent();
    EXPECT_TRUE(Rec.Lines.empty());
    EXPECT_EQ(Queue.Count(), 2u);
    Queue.ProcessEvent();
    EXPECT_EQ(Rec.Take(), (Log{"error A"}));
    EXPECT_EQ(Queue.Count(), 0u);

    // evNone and kinds above 5 are never delivered.
    Queue.Append(std::make_unique<TPCSCEvent>());
    Queue.Append(std::make_unique<TTestEvent>(static_cast<TEventType>(6), u"A"));
    Queue.Append(std::make_unique<TTestEvent>(static_cast<TEventType>(255), u"A"));
    Queue.ProcessAllEvents();
    EXPECT_TRUE(Rec.Lines.empty());
    EXPECT_EQ(Queue.Count(), 0u);
}

TEST(EventQueueReentry, NestedDispatchInsideAGuardedCallback) {
    // Whichever guarded kind is running, a nested call discards the next
    // guarded event and delivers a card removal at once; the guard stays up
    // after the removal until the outer callback returns.
    for (TEventType Running : kGuardedKinds) {
        for (TEventType Next : kGuardedKinds) {
            TTestEventList Queue;
            TRecorder Rec;
            Rec.Attach(Queue);
            Post(Queue, Running, u"A");
            Post(Queue, Next, u"B");
            Queue.CardRemovedAsync(nullptr, u"C");
            Queue.CardErrorAsync(nullptr, u"E");
            Queue.ReaderFoundAsync(nullptr, u"D");
            bool Nested = false;
            Rec.Inside = [&] {
                if (std::exchange(Nested, true)) return;
                // The discarded event's pending scan still runs and drops this.
                Queue.Append(nullptr);
                Queue.ProcessEvent();
                EXPECT_EQ(Queue.Count(), 3u);
                Queue.ProcessEvent();
                Queue.ProcessEvent();
                EXPECT_EQ(Queue.Count(), 1u);
                Rec.Lines.push_back("end");
            };
            Queue.ProcessEvent();
            EXPECT_EQ(Rec.Take(), (Log{Describe(Running, "A"), "remove C", "end"}))
                << static_cast<int>(Running) << " then " << static_cast<int>(Next);
            // The guard is down again once the callback has returned.
            Queue.ProcessEvent();
            EXPECT_EQ(Rec.Take(), (Log{"found D"}));
        }
    }
}

TEST(EventQueueReentry, CardRemovalCallbackDoesNotBlockOtherEvents) {
    TPCSCEventList Queue;
    TRecorder Rec;
    Rec.Attach(Queue);
    Queue.CardRemovedAsync(nullptr, u"A");
    Queue.ReaderFoundAsync(nullptr, u"B");
    Queue.CardInsertedAsync(nullptr, u"C", Bytes{0x3B});
    int Depth = 0;
    Rec.Inside = [&] {
        // Only the removal re-enters; the guarded events are delivered inside it.
        if (Rec.Lines.back() != "remove A") return;
        ++Depth;
        Queue.ProcessEvent();
        Queue.ProcessEvent();
        --Depth;
        Rec.Lines.push_back("end");
    };
    Queue.ProcessEvent();
    EXPECT_EQ(Rec.Take(), (Log{"remove A", "found B", "insert C [3B]", "end"}));
    EXPECT_EQ(Depth, 0);
}

TEST(EventQueueReentry, ThrowingCallbackPropagatesAndLeavesTheRestQueued) {
    for (TEventType Throwing : kAllKinds) {
        TPCSCEventList Queue;
        TRecorder Rec;
        Rec.Attach(Queue);
        Post(Queue, Throwing, u"A");
        Queue.CardInsertedAsync(nullptr, u"B", Bytes{0x3B, 0x00});
        Queue.CardRemovedAsync(nullptr, u"C");
        Queue.ReaderFoundAsync(nullptr, u"D");
        Rec.Inside = [&] {
            if (Rec.Lines.back() == Describe(Throwing, "A")) throw std::runtime_error("handler");
        };
        EXPECT_THROW(Queue.ProcessEvent(), std::runtime_error);
        EXPECT_EQ(Queue.Count(), 3u);
        // The guard was reset, so the next guarded event is delivered.
        Queue.ProcessEvent();
        Queue.ProcessEvent();
        Queue.ProcessEvent();
        EXPECT_EQ(Rec.Take(),
                  (Log{Describe(Throwing, "A"), "insert B [3B 00]", "remove C", "found D"}))
            << "kind " << static_cast<int>(Throwing);
    }
}

TEST(EventQueueReentry, CallbacksMayPostWhileAllEventsAreDrained) {
    TPCSCEventList Queue;
    TRecorder Rec;
    Rec.Attach(Queue);
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.CardRemovedAsync(nullptr, u"A");
    Rec.Inside = [&] {
        const std::string Last = Rec.Lines.back();
        // Supersedes the removal already queued.
        if (Last == "found A") Queue.CardRemovedAsync(nullptr, u"A");
        if (Last == "remove A") Queue.CardInsertedAsync(nullptr, u"B", Bytes{0x3B, 0x6F});
        if (Last == "insert B [3B 6F]") Queue.ReaderRemovedAsync(nullptr, u"B");
    };
    Queue.ProcessAllEvents();
    EXPECT_EQ(Rec.Take(), (Log{"found A", "remove A", "insert B [3B 6F]", "removed B"}));
    EXPECT_EQ(Queue.Count(), 0u);

    // With single calls, what a callback posts waits for a later call.
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.ProcessEvent();
    EXPECT_EQ(Rec.Take(), (Log{"found A"}));
    EXPECT_EQ(Queue.Count(), 1u);
    Queue.ProcessEvent();
    EXPECT_EQ(Rec.Take(), (Log{"remove A"}));
    EXPECT_EQ(Queue.Count(), 1u);
    Queue.ProcessAllEvents();
    EXPECT_EQ(Rec.Take(), (Log{"insert B [3B 6F]", "removed B"}));
}

TEST(EventQueueCallbacks, CallbackMayReplaceItselfWhileRunning) {
    TPCSCEventList Queue;
    Log Lines;
    // The capture is large enough to live on the heap, so running on after
    // the replacement reads freed memory unless the queue keeps it alive.
    const std::string Tag(64, 'x');
    Queue.SetOnReaderFound([&Queue, &Lines, Tag](const std::u16string& Name) {
        Queue.SetOnReaderFound(
            [&Lines](const std::u16string& N) { Lines.push_back("new " + Narrow(N)); });
        Lines.push_back("old " + Narrow(Name) + " " + std::to_string(Tag.size()));
    });
    Queue.ReaderFoundAsync(nullptr, u"A");
    Queue.ReaderFoundAsync(nullptr, u"B");
    Queue.ProcessAllEvents();
    EXPECT_EQ(Lines, (Log{"old A 64", "new B"}));
}

TEST(EventQueueLifetime, EveryEventIsFreedExactlyOnce) {
    int Live = 0;
    TRecorder Rec;
    {
        TTestEventList Queue;
        Rec.Attach(Queue);
        auto Add = [&](TEventType Kind, const std::u16string& Name) {
            Queue.Append(std::make_unique<TTestEvent>(Kind, Name, &Live));
        };
        // Delivered, superseded, unknown, thrown through, refused in a nested call.
        Add(TEventType::evReaderFound, u"A");
        Add(TEventType::evCardError, u"B");
        Add(TEventType::evCardError, u"B");
        Add(static_cast<TEventType>(9), u"C");
        Add(TEventType::evCardRemove, u"Throw");
        Add(TEventType::evReaderRemoved, u"Nest");
        Add(TEventType::evReaderFound, u"Refused");
        EXPECT_EQ(Live, 7);
        Rec.Inside = [&] {
            if (Rec.Lines.back() == "remove Throw") throw std::runtime_error("handler");
            if (Rec.Lines.back() == "removed Nest") Queue.ProcessEvent();
        };
        for (int Calls = 0; Calls < 4; ++Calls) Queue.ProcessEvent();
        EXPECT_EQ(Live, 3);
        EXPECT_THROW(Queue.ProcessEvent(), std::runtime_error);
        EXPECT_EQ(Live, 2);
        Queue.ProcessEvent();
        EXPECT_EQ(Live, 0);
        EXPECT_EQ(Rec.Take(), (Log{"found A", "error B", "remove Throw", "removed Nest"}));

        // Destroyed with events pending: freed, never delivered.
        Add(TEventType::evReaderFound, u"D");
        Add(TEventType::evCardRemove, u"D");
        Queue.CardInsertedAsync(nullptr, u"D", Bytes{0x3B});
        EXPECT_EQ(Live, 2);
    }
    EXPECT_EQ(Live, 0);
    EXPECT_TRUE(Rec.Lines.empty());
}

// The latest-wins rule, stated plainly and independently of the queue: take
// the oldest event out; it is delivered unless a newer event of the same kind
// for the same reader is still queued, its callback is unset, or it is not a
// card removal and another such callback is running.
struct TModel {
    struct TEvent {
        TEventType Kind;
        std::string Reader;
        std::string Atr;
    };
    std::deque<TEvent> Queue;
    std::array<bool, 6> Set{};
    bool Busy = false;
    int NestBudget = 0;  // how many callbacks re-enter, once each
    Log Lines;
    int Delivered = 0, Superseded = 0, Refused = 0;

    void Process() {
        if (Queue.empty()) return;
        const TEvent Event = Queue.front();
        Queue.pop_front();
        const bool Newer = std::any_of(Queue.begin(), Queue.end(), [&](const TEvent& Other) {
            return Other.Kind == Event.Kind && Other.Reader == Event.Reader;
        });
        const bool Guarded = Event.Kind != TEventType::evCardRemove;
        if (Newer) {
            ++Superseded;
            return;
        }
        if (Guarded && Busy) {
            ++Refused;
            return;
        }
        if (!Set[static_cast<int>(Event.Kind)]) return;
        ++Delivered;
        Lines.push_back(Describe(Event.Kind, Event.Reader, Event.Atr));
        if (Guarded) Busy = true;
        if (NestBudget > 0) {
            --NestBudget;
            Lines.push_back("{");
            Process();
            Lines.push_back("}");
        }
        if (Guarded) Busy = false;
    }
};

std::string ModelAtr(const Bytes& Atr) {
    std::string Text;
    for (std::uint8_t b : Atr) {
        char Pair[4];
        std::snprintf(Pair, sizeof Pair, "%02X", b);
        if (!Text.empty()) Text += ' ';
        Text += Pair;
    }
    return Text;
}

TEST(EventQueueModel, RandomPostingAndDispatchFollowTheLatestWinsRule) {
    const std::array<std::u16string, 5> Readers = {u"A", u"a", u"Lecteur 1", u"lecteur 1",
                                                   u"LECTEUR 1"};
    std::mt19937 Random(20240611);
    auto Pick = [&](int Count) {
        return static_cast<int>(Random() % static_cast<unsigned>(Count));
    };

    TPCSCEventList Queue;
    TModel Model;
    Log Lines;
    int NestBudget = 0;
    auto Note = [&](std::string Line) {
        Lines.push_back(std::move(Line));
        if (NestBudget > 0) {
            --NestBudget;
            Lines.push_back("{");
            Queue.ProcessEvent();
            Lines.push_back("}");
        }
    };
    auto Bind = [&](TEventType Kind, bool On) {
        Model.Set[static_cast<int>(Kind)] = On;
        std::function<void(const std::u16string&)> Simple;
        TPCSCCardInsertProc Insert;
        if (On) {
            Simple = [&Note, Kind](const std::u16string& Name) {
                Note(Describe(Kind, Narrow(Name)));
            };
            Insert = [&Note](const std::u16string& Name, const std::u16string& Atr) {
                Note(Describe(TEventType::evCardInsert, Narrow(Name), Narrow(Atr)));
            };
        }
        switch (Kind) {
            case TEventType::evCardInsert: Queue.SetOnCardInsert(Insert); break;
            case TEventType::evCardRemove: Queue.SetOnCardRemove(Simple); break;
            case TEventType::evCardError: Queue.SetOnCardError(Simple); break;
            case TEventType::evReaderFound: Queue.SetOnReaderFound(Simple); break;
            case TEventType::evReaderRemoved: Queue.SetOnReaderRemoved(Simple); break;
            default: break;
        }
    };
    for (TEventType Kind : kAllKinds) Bind(Kind, true);

    for (int Step = 0; Step < 6000; ++Step) {
        const int Roll = Pick(100);
        if (Roll < 50) {
            const TEventType Kind = kAllKinds[Pick(5)];
            const std::u16string& Reader = Readers[Pick(5)];
            Bytes Atr(Pick(4));
            for (auto& b : Atr) b = static_cast<std::uint8_t>(Random());
            Post(Queue, Kind, Reader, Atr);
            Model.Queue.push_back(
                {Kind, Narrow(Reader), Kind == TEventType::evCardInsert ? ModelAtr(Atr) : ""});
        } else if (Roll < 92) {
            NestBudget = Model.NestBudget = Pick(4) == 0 ? 1 + Pick(2) : 0;
            Queue.ProcessEvent();
            Model.Process();
        } else if (Roll < 94) {
            NestBudget = Model.NestBudget = 0;
            Queue.ProcessAllEvents();
            while (!Model.Queue.empty()) Model.Process();
        } else {
            // Mostly set: an unset callback hides what the queue would deliver.
            Bind(kAllKinds[Pick(5)], Pick(4) != 0);
        }
        ASSERT_EQ(Lines, Model.Lines) << "step " << Step;
        ASSERT_EQ(Queue.Count(), Model.Queue.size()) << "step " << Step;
        Lines.clear();
        Model.Lines.clear();
    }
    // The run went through every branch of the rule many times.
    EXPECT_GT(Model.Delivered, 500);
    EXPECT_GT(Model.Superseded, 200);
    EXPECT_GT(Model.Refused, 20);
}

}  // namespace
}  // namespace pcsc
