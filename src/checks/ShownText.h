// Texts that come from outside the tool (reader names, vendor attributes,
// registry values, file names) as a report line shows them. Such a text may
// hold anything: a line break would end the report's line and let the rest
// pass for a line of its own, a bidirectional override would reorder what
// the technician reads. Every line a check builds from such a text shows it
// through ShownText; the data handed to programs (JSON fields) keeps it
// exact.
#pragma once

#include <string>
#include <string_view>

namespace checks {

// The text with U+FFFD in place of every character that would break or
// reorder a line: the C0 and C1 control characters but TAB, DEL, U+2028 and
// U+2029 (line and paragraph separators), the bidirectional embeddings,
// overrides and isolates U+202A to U+202E and U+2066 to U+2069, and unpaired
// surrogates (among them the bytes of a name that were not UTF-8).
std::u16string ShownText(std::u16string_view text);

}  // namespace checks
