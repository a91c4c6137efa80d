// Windows: the tool writes UTF-8 (French accents, JSON) whatever it writes
// to. A console shows the bytes it receives in its output code page, which is
// the OEM one (850 in France) unless told otherwise; a pipe or a file takes
// the bytes as they are.
#pragma once

namespace cli {

// When standard output or standard error is a console: sets the console's
// output code page to UTF-8 for the run (putting the console's own page back
// when the program ends normally) and writes to it in binary mode through a
// full buffer, so that the C runtime passes whole UTF-8 texts on unconverted
// when the tool flushes. Call before anything is written. Nothing changes for a
// pipe or a file, which get the UTF-8 bytes as they are.
void UseUtf8Console();

}  // namespace cli
