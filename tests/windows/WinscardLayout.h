// What the Windows tests ask of Windows itself, from a file that may include
// <windows.h> (WinscardLayout.cpp, which also holds the library's records to
// the platform's at compile time).
#pragma once

#include <cstdint>
#include <string>

namespace layout {

// The file a loaded module came from (UTF-8).
std::string ModulePath(std::uintptr_t module);
// The system directory (UTF-8), where winscard.dll must come from.
std::string SystemDirectory();
// The ANSI code page (1252 for the French and English systems).
unsigned AnsiCodePage();

}  // namespace layout
