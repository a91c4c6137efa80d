// Control functions of the fake smart-card library that tests load in place
// of libpcsclite (through VARDEL_PCSC_LIBRARY). The fake exports pcsc-lite's
// API with pcsc-lite's signatures and values; these extra exports let a test
// set up the readers, cards and results the real service cannot be made to
// produce (a broken handle, vendor attributes, a malformed reader list...).
//
// Names are UTF-8. Every function is safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// Back to a running service with no reader, no forced result, counters zero.
void fake_pcsc_reset();

// Service up or down. Down: every call answers SCARD_E_NO_SERVICE. Bringing
// it up again starts a new service: contexts and card handles issued before
// answer SCARD_E_NO_SERVICE for ever, as pcsc-lite's do after a restart.
void fake_pcsc_set_service(int up);

// Readers, in listing order. Adding a name that exists adds a duplicate.
void fake_pcsc_add_reader(const char* name);
void fake_pcsc_remove_reader(const char* name);

// The reader's state as the service reports it (SCARD_STATE_* flags of the
// low 16 bits) and its card's ATR. Each call counts one card event.
void fake_pcsc_set_reader_state(const char* name, unsigned long state, const unsigned char* atr,
                                std::size_t atrLen);
// What the card answers to every transmit (default 90 00).
void fake_pcsc_set_response(const char* name, const unsigned char* data, std::size_t len);
// Protocol the card connects with (1 = T=0, 2 = T=1; default 2).
void fake_pcsc_set_card_protocol(const char* name, unsigned long protocol);
// A vendor attribute the reader answers to SCardGetAttrib; unset -> the
// service's answer for an unsupported attribute.
void fake_pcsc_set_attrib(const char* name, unsigned long id, const unsigned char* data,
                          std::size_t len);
// Reply to SCardControl (any code); unset -> SCARD_E_UNSUPPORTED_FEATURE.
void fake_pcsc_set_control_reply(const char* name, const unsigned char* data, std::size_t len);

// Forces the result of the next `times` calls of an entry point (times < 0:
// for ever). `entry` is an exported name ("SCardListReaders"), or
// "SCardListReaders+buffer" for only the calls that pass a buffer,
// "SCardListReaders+size" for only those that ask for the size.
void fake_pcsc_force_result(const char* entry, long code, int times);

// Makes the next `times` calls of an entry point that succeed with a buffer
// (SCardTransmit, SCardListReaders) report `length` as the length they wrote,
// whatever they copied: a library that claims more than the buffer holds.
void fake_pcsc_overstate_length(const char* entry, unsigned long length, int times);

// Replaces the reader list that SCardListReaders copies out with raw bytes
// (for malformed lists): `len` bytes exactly, whatever they hold. len 0 with
// data null goes back to the list of readers.
void fake_pcsc_set_raw_reader_list(const char* data, std::size_t len);

// How the reader-list notification ("\\?PnP?\Notification") answers:
// 0 = pcsc-lite 1.9.9: SCARD_E_TIMEOUT on every poll with timeout 0; a
//     change is reported only when the reader count changes during a
//     blocking call;
// 1 = pcsc-lite 2.3: as 0, and the high 16 bits of dwEventState count
//     reader events, so a 0 ms poll sees them;
// 2 = always answers success with SCARD_STATE_CHANGED, never blocks.
void fake_pcsc_set_pnp_mode(int mode);

// Number of calls made to an entry point since the last reset.
long fake_pcsc_calls(const char* entry);
// Last values seen by an entry point, by argument position (0-based) as an
// integer (texts are not recorded; use fake_pcsc_last_text). For a text
// argument that is only looked at for presence, 1 when given and 0 when null
// (SCardListReaders' group filter, position 1).
unsigned long long fake_pcsc_last_arg(const char* entry, int position);
// Last reader name (UTF-8) an entry point received; "" when none.
const char* fake_pcsc_last_text(const char* entry);
// Contexts currently established (not released).
long fake_pcsc_open_contexts();

}  // extern "C"
