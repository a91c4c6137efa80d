// The verdict on each check: what the checks learned, turned into a status, a
// sentence naming what was found and, for each problem, the next step. One
// table (Verdict.cpp) gives every situation its status, its sentence and its
// advice on each platform, so that every front end says the same.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "checks/MachineFacts.h"
#include "checks/SerialCheck.h"
#include "checks/safeModule.h"
#include "pcsc/Manager.h"
#include "pcsc/PCSCDef.h"
#include "pcsc/Reader.h"

namespace checks {

// The checks, in the order of the window's tabs.
enum class CheckKind { Service, Serial, Direct };

// In growing gravity.
enum class VerdictStatus { Ok, Warning, Error };

struct Verdict {
    CheckKind check = CheckKind::Service;
    VerdictStatus status = VerdictStatus::Ok;
    // What was found, the problems' sentences after it, " ; " between.
    std::u16string summary = {};
    // The next step for each problem, in the order of the summary; empty
    // when there is nothing to do.
    std::vector<std::u16string> advice = {};
};

// What the service check learned: the code its manager's context was
// established with (nullopt: the library could not be loaded), its first
// listing, and each reader listed with its card as one poll saw it.
struct ServiceFindings {
    struct Reader {
        std::u16string name;
        pcsc::TCardState card = pcsc::TCardState::csUnknown;
        pcsc::Bytes atr;
    };
    std::optional<pcsc::Status> establish;
    std::optional<pcsc::ListingResult> listing;
    std::vector<Reader> readers;
};

struct SerialFindings {
    SerialCheckResult result;
    // The error that stopped the check (a registry value that is not text),
    // UTF-8.
    std::optional<std::string> error;
};

// Each check that ran.
struct Findings {
    std::optional<ServiceFindings> service;
    std::optional<SerialFindings> serial;
    std::optional<DirectCheckResult> direct;
};

// One verdict per check that ran, in tab order.
std::vector<Verdict> Diagnose(const Findings& findings, const MachineFacts& facts);

// A service call that never answered and made the run give up.
Verdict NoAnswerVerdict();

// "OK", "ATTENTION", "ÉCHEC".
std::u16string_view VerdictWord(VerdictStatus status);

}  // namespace checks
