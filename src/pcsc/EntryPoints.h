// The smart-card library's entry points as the binding holds them: their
// signatures, in the library's own types and calling convention. TPCSCRaw's
// fields and the direct check's three functions have these types; the
// records they point to are laid out as the platform's library lays them out
// and stay inside the binding (platform/Platform.h).
#pragma once

#include <cstdint>

#include "pcsc/NativeTypes.h"

#if defined(_WIN32)
#define VARDEL_PCSC_API __stdcall
#else
#define VARDEL_PCSC_API
#endif

namespace pcsc::platform {

// A loaded smart-card library: its HMODULE, or what dlopen gave.
using ModuleHandle = std::uintptr_t;

struct NativeReaderState;
struct NativeIoRequest;

// Entry-point signatures of the platform library.
namespace entry {
using BeginTransaction = NativeLong(VARDEL_PCSC_API*)(NativeHandle);
using Cancel = NativeLong(VARDEL_PCSC_API*)(NativeHandle);
using Connect = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, NativeDword, NativeDword,
                                             NativeHandle*, NativeDword*);
using Control = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, const void*, NativeDword,
                                             void*, NativeDword, NativeDword*);
using Disconnect = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword);
using EndTransaction = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword);
using EstablishContext = NativeLong(VARDEL_PCSC_API*)(NativeDword, const void*, const void*,
                                                      NativeHandle*);
using FreeMemory = NativeLong(VARDEL_PCSC_API*)(NativeHandle, const void*);
using GetAttrib = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, unsigned char*,
                                               NativeDword*);
using GetProviderId = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, void*);
using GetStatusChange = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, NativeReaderState*,
                                                     NativeDword);
using ListReaders = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, NativeTextBuffer,
                                                 NativeDword*);
using ListCards = NativeLong(VARDEL_PCSC_API*)(NativeHandle, const unsigned char*, const void*,
                                               NativeDword, NativeTextBuffer, NativeDword*);
using ListInterfaces = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, void*, NativeDword*);
using ListReaderGroups = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeTextBuffer, NativeDword*);
using LocateCards = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeText, NativeReaderState*,
                                                 NativeDword);
using Reconnect = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, NativeDword, NativeDword,
                                               NativeDword*);
using ReleaseContext = NativeLong(VARDEL_PCSC_API*)(NativeHandle);
using Transmit = NativeLong(VARDEL_PCSC_API*)(NativeHandle, const NativeIoRequest*,
                                              const unsigned char*, NativeDword, NativeIoRequest*,
                                              unsigned char*, NativeDword*);
using SetAttrib = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeDword, const unsigned char*,
                                               NativeDword);
using Status = NativeLong(VARDEL_PCSC_API*)(NativeHandle, NativeTextBuffer, NativeDword*,
                                            NativeDword*, NativeDword*, unsigned char*,
                                            NativeDword*);
using IsValidContext = NativeLong(VARDEL_PCSC_API*)(NativeHandle);
// The 8-bit reader listing (SCardListReadersA on Windows, where the names are
// in the ANSI code page; pcsc-lite's only listing, in UTF-8).
using ListReadersAnsi = NativeLong(VARDEL_PCSC_API*)(NativeHandle, const char*, char*,
                                                     NativeDword*);
}  // namespace entry

}  // namespace pcsc::platform

namespace pcsc {

// The entry-point types under their PC/SC names.
using TSCardBeginTransaction = platform::entry::BeginTransaction;
using TSCardCancel = platform::entry::Cancel;
using TSCardConnect = platform::entry::Connect;
using TSCardControl = platform::entry::Control;
using TSCardDisconnect = platform::entry::Disconnect;
using TSCardEndTransaction = platform::entry::EndTransaction;
using TSCardEstablishContext = platform::entry::EstablishContext;
using TSCardFreeMemory = platform::entry::FreeMemory;
using TSCardGetAttrib = platform::entry::GetAttrib;
using TSCardGetProviderId = platform::entry::GetProviderId;
using TSCardGetStatusChange = platform::entry::GetStatusChange;
using TSCardListReaders = platform::entry::ListReaders;
using TSCardListCards = platform::entry::ListCards;
using TSCardListInterfaces = platform::entry::ListInterfaces;
using TSCardListReaderGroups = platform::entry::ListReaderGroups;
using TSCardLocateCards = platform::entry::LocateCards;
using TSCardReconnect = platform::entry::Reconnect;
using TSCardReleaseContext = platform::entry::ReleaseContext;
using TSCardTransmit = platform::entry::Transmit;
using TSCardSetAttrib = platform::entry::SetAttrib;
using TSCardStatus = platform::entry::Status;
using TSCardIsValidContext = platform::entry::IsValidContext;

}  // namespace pcsc
