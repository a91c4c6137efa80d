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
};

// The entry point's address in the library, or nullptr when it does not
// export it.
template <typename Function>
Function FindEntry(ModuleHandle module, const EntryPoint<Function>& entry) {
    return reinterpret_cast<Function>(FindExport(module, entry.exported));
}

namespace entries {
#if defined(_WIN32)
#define VARDEL_PCSC_WIDE(name) name "W"
#else
#define VARDEL_PCSC_WIDE(name) name
#endif
inline constexpr EntryPoint<entry::BeginTransaction> kBeginTransaction{"SCardBeginTransaction",
                                                                       "SCardBeginTransaction"};
inline constexpr EntryPoint<entry::Cancel> kCancel{"SCardCancel", "SCardCancel"};
inline constexpr EntryPoint<entry::Connect> kConnect{VARDEL_PCSC_WIDE("SCardConnect"),
                                                     "SCardConnect"};
inline constexpr EntryPoint<entry::Control> kControl{"SCardControl", "SCardControl"};
inline constexpr EntryPoint<entry::Disconnect> kDisconnect{"SCardDisconnect", "SCardDisconnect"};
inline constexpr EntryPoint<entry::EndTransaction> kEndTransaction{"SCardEndTransaction",
                                                                   "SCardEndTransaction"};
inline constexpr EntryPoint<entry::EstablishContext> kEstablishContext{"SCardEstablishContext",
                                                                       "SCardEstablishContext"};
inline constexpr EntryPoint<entry::FreeMemory> kFreeMemory{"SCardFreeMemory", "SCardFreeMemory"};
inline constexpr EntryPoint<entry::GetAttrib> kGetAttrib{"SCardGetAttrib", "SCardGetAttrib"};
inline constexpr EntryPoint<entry::GetProviderId> kGetProviderId{
    VARDEL_PCSC_WIDE("SCardGetProviderId"), "SCardGetProviderId"};
inline constexpr EntryPoint<entry::GetStatusChange> kGetStatusChange{
    VARDEL_PCSC_WIDE("SCardGetStatusChange"), "SCardGetStatusChange"};
inline constexpr EntryPoint<entry::ListReaders> kListReaders{VARDEL_PCSC_WIDE("SCardListReaders"),
                                                             "SCardListReaders"};
inline constexpr EntryPoint<entry::ListCards> kListCards{VARDEL_PCSC_WIDE("SCardListCards"),
                                                         "SCardListCards"};
inline constexpr EntryPoint<entry::ListInterfaces> kListInterfaces{
    VARDEL_PCSC_WIDE("SCardListInterfaces"), "SCardListInterfaces"};
inline constexpr EntryPoint<entry::ListReaderGroups> kListReaderGroups{
    VARDEL_PCSC_WIDE("SCardListReaderGroups"), "SCardListReaderGroups"};
inline constexpr EntryPoint<entry::LocateCards> kLocateCards{VARDEL_PCSC_WIDE("SCardLocateCards"),
                                                             "SCardLocateCards"};
inline constexpr EntryPoint<entry::Reconnect> kReconnect{"SCardReconnect", "SCardReconnect"};
inline constexpr EntryPoint<entry::ReleaseContext> kReleaseContext{"SCardReleaseContext",
                                                                   "SCardReleaseContext"};
inline constexpr EntryPoint<entry::Transmit> kTransmit{"SCardTransmit", "SCardTransmit"};
inline constexpr EntryPoint<entry::SetAttrib> kSetAttrib{"SCardSetAttrib", "SCardSetAttrib"};
inline constexpr EntryPoint<entry::Status> kStatus{VARDEL_PCSC_WIDE("SCardStatus"), "SCardStatus"};
// The direct check's 8-bit listing, shown under its exported name: on
// Windows it is the A form, not the W one the binding calls.
#if defined(_WIN32)
inline constexpr EntryPoint<entry::ListReadersAnsi> kListReadersAnsi{"SCardListReadersA",
                                                                     "SCardListReadersA"};
#else
inline constexpr EntryPoint<entry::ListReadersAnsi> kListReadersAnsi{"SCardListReaders",
                                                                     "SCardListReaders"};
#endif
#undef VARDEL_PCSC_WIDE
}  // namespace entries

}  // namespace pcsc::platform
