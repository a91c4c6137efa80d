#include "cli/ConsoleWin32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace cli {
namespace {

UINT g_consolePage = 0;  // the page to put back; 0 when untouched

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetConsoleMode(handle, &mode) != 0;
}

void RestoreConsolePage() {
    // The console outlives the program (cmd.exe's window): its page is its
    // user's, not ours.
    if (g_consolePage != 0) SetConsoleOutputCP(g_consolePage);
}

}  // namespace

void UseUtf8Console() {
    const bool out = IsConsole(STD_OUTPUT_HANDLE);
    const bool err = IsConsole(STD_ERROR_HANDLE);
    if (!out && !err) return;
    // The C runtime would take our bytes for text of the ANSI code page and
    // convert them for the console, and an unbuffered stream hands them over
    // one by one, cutting every accented character in two: the console must
    // get whole UTF-8 texts, as they are. Every write is flushed by the tool.
    for (std::FILE* stream : {out ? stdout : nullptr, err ? stderr : nullptr}) {
        if (!stream) continue;
        _setmode(_fileno(stream), _O_BINARY);
        std::setvbuf(stream, nullptr, _IOFBF, 1 << 16);
    }
    const UINT page = GetConsoleOutputCP();
    if (page == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
    g_consolePage = page;
    std::atexit(RestoreConsolePage);
}

}  // namespace cli
