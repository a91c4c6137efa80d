// Loading the smart-card library at run time, and the table of its entry
// points: for each, the name the loader looks up and the name a note of the
// call in flight shows (InFlight.h). The binding resolves its entry points
// through this table, and so does the direct check its three functions.
#pragma once

#include <string>

#include "pcsc/EntryPoints.h"

namespace pcsc::platform {

// The environment variable that names another smart-card library file to
// load instead of the system's (tests, and diagnosing a vendor library).
inline constexpr const char* kLibraryOverrideVariable = "VARDEL_PCSC_LIBRARY";

// The file the binding loads: the override when set, else the system's
// library (winscard.dll from the system directory only, libpcsclite.so.1).
std::string SmartCardLibraryPath();

// Loads the smart-card library; 0 when it cannot be loaded.
ModuleHandle LoadSmartCardLibrary();
// Address of an export, or nullptr when the library does not export it.
void* FindExport(ModuleHandle module, const char* name);
void FreeModule(ModuleHandle module);
// Why the last load failed, for reports ("" when unknown).
std::string LastLoadError();

// One entry point of the library, of type Function. Both names are static
// texts.
template <typename Function>
struct EntryPoint {
    // What the loader looks up: the wide form (name ending in W) of a
    // text-carrying entry point where the platform has one.
    const char* exported;
    // What a note of the call in flight shows, the W left out: the call as
    // the PC/SC interface names it.
    const char* shown;

    // Exported under the name it is shown by.
    constexpr explicit EntryPoint(const char* name) : exported(name), shown(name) {}
    constexpr EntryPoint(const char* exportedName, const char* shownName)
        : exported(exportedName), shown(shownName) {}
};

// The entry point's address in the library, or nullptr when it does not
// export it.
template <typename Function>
Function FindEntry(ModuleHandle module, const EntryPoint<Function>& entry) {
    return reinterpret_cast<Function>(FindExport(module, entry.exported));
}

namespace entries {
// A text-carrying entry point: exported in its wide form where the
// platform has one, shown without the W.
#if defined(_WIN32)
#define VARDEL_PCSC_TEXT(name) name "W", name
#else
#define VARDEL_PCSC_TEXT(name) name
#endif
inline constexpr EntryPoint<entry::BeginTransaction> kBeginTransaction{"SCardBeginTransaction"};
inline constexpr EntryPoint<entry::Cancel> kCancel{"SCardCancel"};
inline constexpr EntryPoint<entry::Connect> kConnect{VARDEL_PCSC_TEXT("SCardConnect")};
inline constexpr EntryPoint<entry::Control> kControl{"SCardControl"};
inline constexpr EntryPoint<entry::Disconnect> kDisconnect{"SCardDisconnect"};
inline constexpr EntryPoint<entry::EndTransaction> kEndTransaction{"SCardEndTransaction"};
inline constexpr EntryPoint<entry::EstablishContext> kEstablishContext{"SCardEstablishContext"};
inline constexpr EntryPoint<entry::FreeMemory> kFreeMemory{"SCardFreeMemory"};
inline constexpr EntryPoint<entry::GetAttrib> kGetAttrib{"SCardGetAttrib"};
inline constexpr EntryPoint<entry::GetProviderId> kGetProviderId{
    VARDEL_PCSC_TEXT("SCardGetProviderId")};
inline constexpr EntryPoint<entry::GetStatusChange> kGetStatusChange{
    VARDEL_PCSC_TEXT("SCardGetStatusChange")};
inline constexpr EntryPoint<entry::ListReaders> kListReaders{VARDEL_PCSC_TEXT("SCardListReaders")};
inline constexpr EntryPoint<entry::ListCards> kListCards{VARDEL_PCSC_TEXT("SCardListCards")};
inline constexpr EntryPoint<entry::ListInterfaces> kListInterfaces{
    VARDEL_PCSC_TEXT("SCardListInterfaces")};
inline constexpr EntryPoint<entry::ListReaderGroups> kListReaderGroups{
    VARDEL_PCSC_TEXT("SCardListReaderGroups")};
inline constexpr EntryPoint<entry::LocateCards> kLocateCards{VARDEL_PCSC_TEXT("SCardLocateCards")};
inline constexpr EntryPoint<entry::Reconnect> kReconnect{"SCardReconnect"};
inline constexpr EntryPoint<entry::ReleaseContext> kReleaseContext{"SCardReleaseContext"};
inline constexpr EntryPoint<entry::Transmit> kTransmit{"SCardTransmit"};
inline constexpr EntryPoint<entry::SetAttrib> kSetAttrib{"SCardSetAttrib"};
inline constexpr EntryPoint<entry::Status> kStatus{VARDEL_PCSC_TEXT("SCardStatus")};
// The direct check's 8-bit listing, shown under its exported name: on
// Windows it is the A form, not the W one the binding calls.
#if defined(_WIN32)
inline constexpr EntryPoint<entry::ListReadersAnsi> kListReadersAnsi{"SCardListReadersA"};
#else
inline constexpr EntryPoint<entry::ListReadersAnsi> kListReadersAnsi{"SCardListReaders"};
#endif
#undef VARDEL_PCSC_TEXT
}  // namespace entries

}  // namespace pcsc::platform
