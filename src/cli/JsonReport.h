// The JSON forms: one document for the checks' reports, one single-line
// object per watched event.
//
// {"checks":[{"id":"pcsc"|"com"|"direct","title":<tab caption>,
//   "pieces":[{"text":...,"style":["bold","italic","underline","strikeout"],
//              "color":"#RRGGBB"}...],
//   pcsc:   "serviceReached":true|false,
//           "readers":[{"name":...}] (with details also "displayName",
//           "vendor","serial","driverVersion","firmwareVersion": text or null)
//   com:    "ports":[{"port":...,"device":...}], or {"port":...,"error":...}
//           for a port that could not be read
//   direct: "readers":[{"name":...}]
//   pcsc, direct: "codes":{"establish":N,"list":N} (signed 32-bit; a call
//           not made has no entry), "listMalformed":true when the list the
//           library gave could not be read
//   any:    "error":<text> when the check stopped on an error
//  }],
//  "diagnosis":[{"check":"pcsc"|"com"|"direct","status":"ok"|"warning"|"error",
//   "summary":...,"advice":[...] (absent when there is nothing to do)}...]}
// With details, each pcsc reader also has "card":{"state":"absent"|"present"|
// "exclusive"|"shared"|"mute"|"unknown", and the ATR fields when it has one}.
// ATR fields: "atr":"3B 95 ...","convention":"direct"|"inverse","protocols":
// ["T=1"],"fi":372,"di":4 (from TA1),"historical":"80 73 ...","atrValid":true,
// "atrProblem":<text> (when not valid).
// {"time":"2024-05-02T09:15:00.123Z","event":"reader-found"|"reader-removed"|
//  "card-inserted"|"card-removed"|"card-error","reader":..., the ATR fields on
//  card-inserted}
// {"time":...,"event":"service-lost","code":N} {"time":...,"event":"service-back"}
// A reader name whose bytes are not all UTF-8 also gives "nameHex" (its
// bytes, two upper-case hexadecimal digits each), a device name "deviceHex".
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "checks/Verdict.h"
#include "cli/Json.h"
#include "cli/Outcome.h"
#include "cli/ServiceSession.h"

namespace cli {

// "#RRGGBB" from a colour laid out 0x00BBGGRR.
std::string HtmlColor(checks::Color color);

// UTC, ISO 8601 with milliseconds: 2024-05-02T09:15:00.123Z.
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

std::string_view EventName(EventKind kind);

// The document, on one line, without line end.
std::string JsonDocument(const std::vector<CheckOutcome>& outcomes, bool details,
                         const std::vector<checks::Verdict>& verdicts);

// The ATR fields of an object that shows an ATR.
void AddAtr(json::Object& object, const pcsc::Bytes& atr);

// One event, on one line, without line end.
std::string JsonEvent(const ServiceEvent& event);

}  // namespace cli
