// The vocabulary shared with the smart-card resource manager: the library's
// own types, the records handed to the service and the PC/SC constants under
// their published names. Values that a platform publishes differently come
// from NativeTypes.h; nothing else here depends on the platform.
//
// Never include the platform's own <winscard.h>/<PCSC/winscard.h> in the same
// translation unit: they define these names as macros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pcsc/NativeTypes.h"

namespace pcsc {

// 32-bit status code of every service call; 0 is success.
using Status = std::uint32_t;
// Context and card handles: pointer-sized, as the service issues them.
using Handle = std::uintptr_t;
// Counted byte array: ATRs, APDUs, control data.
using Bytes = std::vector<std::uint8_t>;
// Ordered list of texts (reader names).
using StringList = std::vector<std::u16string>;

// A card handle with every bit set marks "not connected".
inline constexpr Handle kNoCardHandle = ~Handle{0};

// Protocol of a reader object's current connection.
enum class TPcscProtocol : std::uint8_t {
    prNC = 0,      // not connected
    prT0 = 1,      // T=0
    prT1 = 2,      // T=1
    prRaw = 3,     // raw protocol; also every direct-mode connection
    prDirect = 4,  // declared only: nothing stores it
};

// The library's reader-state record. Its text is UTF-16 whatever the
// platform: on Windows it is exactly SCARD_READERSTATEW and goes to the
// service as it is; on pcsc-lite the binding translates it.
struct TSCardReaderStateA {
    const char16_t* szReader = nullptr;
    void* pvUserData = nullptr;
    std::uint32_t dwCurrentState = 0;
    std::uint32_t dwEventState = 0;  // state flags low 16 bits, event count high 16 bits
    std::uint32_t cbAtr = 0;
    std::uint8_t rgbAtr[36] = {};
};
using PSCardReaderStateA = TSCardReaderStateA*;

// Protocol-control header of a transmit; Size counts the whole record.
struct TSCardIoRequest {
    std::uint32_t Protocol;
    std::uint32_t Size;
};
using PSCardIoRequest = TSCardIoRequest*;

// ---- Scopes ----------------------------------------------------------------
inline constexpr std::uint32_t SCARD_SCOPE_USER = 0;
inline constexpr std::uint32_t SCARD_SCOPE_SYSTEM = 2;

// ---- Share modes -----------------------------------------------------------
inline constexpr std::uint32_t SCARD_SHARE_EXCLUSIVE = 1;
inline constexpr std::uint32_t SCARD_SHARE_SHARED = 2;
inline constexpr std::uint32_t SCARD_SHARE_DIRECT = 3;

// ---- Protocols -------------------------------------------------------------
inline constexpr std::uint32_t SCARD_PROTOCOL_UNDEFINED = 0;
inline constexpr std::uint32_t SCARD_PROTOCOL_T0 = 1;
inline constexpr std::uint32_t SCARD_PROTOCOL_T1 = 2;
inline constexpr std::uint32_t SCARD_PROTOCOL_RAW = platform::kProtocolRaw;

// ---- Dispositions ----------------------------------------------------------
inline constexpr std::uint32_t SCARD_LEAVE_CARD = 0;
inline constexpr std::uint32_t SCARD_RESET_CARD = 1;
inline constexpr std::uint32_t SCARD_UNPOWER_CARD = 2;
inline constexpr std::uint32_t SCARD_EJECT_CARD = 3;

// ---- Reader-state flags ----------------------------------------------------
inline constexpr std::uint32_t SCARD_STATE_UNAWARE = 0x0000;
inline constexpr std::uint32_t SCARD_STATE_IGNORE = 0x0001;
inline constexpr std::uint32_t SCARD_STATE_CHANGED = 0x0002;
inline constexpr std::uint32_t SCARD_STATE_UNKNOWN = 0x0004;
inline constexpr std::uint32_t SCARD_STATE_UNAVAILABLE = 0x0008;
inline constexpr std::uint32_t SCARD_STATE_EMPTY = 0x0010;
inline constexpr std::uint32_t SCARD_STATE_PRESENT = 0x0020;
inline constexpr std::uint32_t SCARD_STATE_ATRMATCH = 0x0040;
inline constexpr std::uint32_t SCARD_STATE_EXCLUSIVE = 0x0080;
inline constexpr std::uint32_t SCARD_STATE_INUSE = 0x0100;
inline constexpr std::uint32_t SCARD_STATE_MUTE = 0x0200;

// ---- Attribute identifiers: (class << 16) | tag ------------------------------
inline constexpr std::uint32_t SCARD_ATTR_VENDOR_NAME = 0x00010100;
inline constexpr std::uint32_t SCARD_ATTR_VENDOR_IFD_VERSION = 0x00010102;
inline constexpr std::uint32_t SCARD_ATTR_VENDOR_IFD_SERIAL_NO = 0x00010103;
inline constexpr std::uint32_t SCARD_ATTR_DEVICE_FRIENDLY_NAME_A = 0x7FFF0003;

// ---- Device control --------------------------------------------------------
inline constexpr std::uint32_t FILE_DEVICE_SMARTCARD = 0x31;
inline constexpr std::uint32_t METHOD_BUFFERED = 0;
inline constexpr std::uint32_t FILE_ANY_ACCESS = 0;
// Reader driver and firmware version query (12-byte reply).
inline constexpr std::uint32_t IOCTL_READER_VERSION_FUNCTION = 2049;

// Given as szReader to the status-change wait, asks for changes of the
// reader list instead of one reader's state.
inline constexpr char16_t kPnPNotification[] = u"\\\\?PNP?\\Notification";

// ---- Protocol-control records ------------------------------------------------
// The library's own records, so that no data is looked up in the service
// library. Nothing writes to them.
inline constexpr TSCardIoRequest SCARD_PCI_T0_RECORD{SCARD_PROTOCOL_T0, 8};
inline constexpr TSCardIoRequest SCARD_PCI_T1_RECORD{SCARD_PROTOCOL_T1, 8};
inline constexpr const TSCardIoRequest* SCARD_PCI_T0 = &SCARD_PCI_T0_RECORD;
inline constexpr const TSCardIoRequest* SCARD_PCI_T1 = &SCARD_PCI_T1_RECORD;

// ---- Status codes ----------------------------------------------------------
inline constexpr Status SCARD_S_SUCCESS = 0;
inline constexpr Status SCARD_F_INTERNAL_ERROR = 0x80100001;  // internal consistency check failed
inline constexpr Status SCARD_E_CANCELLED = 0x80100002;       // cancelled by SCardCancel
inline constexpr Status SCARD_E_INVALID_HANDLE = 0x80100003;  // handle not valid
inline constexpr Status SCARD_E_INVALID_PARAMETER = 0x80100004;  // parameter cannot be interpreted
inline constexpr Status SCARD_E_INVALID_TARGET = 0x80100005;     // registry start-up data missing
inline constexpr Status SCARD_E_NO_MEMORY = 0x80100006;          // out of memory
inline constexpr Status SCARD_F_WAITED_TOO_LONG = 0x80100007;    // internal timer expired
inline constexpr Status SCARD_E_INSUFFICIENT_BUFFER = 0x80100008;  // receive buffer too small
inline constexpr Status SCARD_E_UNKNOWN_READER = 0x80100009;       // reader name not recognised
inline constexpr Status SCARD_E_TIMEOUT = 0x8010000A;  // time-out expired, nothing changed
inline constexpr Status SCARD_E_SHARING_VIOLATION = 0x8010000B;   // other connections outstanding
inline constexpr Status SCARD_E_NO_SMARTCARD = 0x8010000C;        // no card in the reader
inline constexpr Status SCARD_E_UNKNOWN_CARD = 0x8010000D;        // card name not recognised
inline constexpr Status SCARD_E_CANT_DISPOSE = 0x8010000E;        // cannot dispose of the media
inline constexpr Status SCARD_E_PROTO_MISMATCH = 0x8010000F;      // protocols incompatible
inline constexpr Status SCARD_E_NOT_READY = 0x80100010;           // reader or card not ready
inline constexpr Status SCARD_E_INVALID_VALUE = 0x80100011;       // parameter value not valid
inline constexpr Status SCARD_E_SYSTEM_CANCELLED = 0x80100012;    // cancelled by the system
inline constexpr Status SCARD_F_COMM_ERROR = 0x80100013;          // internal communications error
inline constexpr Status SCARD_F_UNKNOWN_ERROR = 0x80100014;       // internal error, source unknown
inline constexpr Status SCARD_E_INVALID_ATR = 0x80100015;         // ATR from the registry not valid
inline constexpr Status SCARD_E_NOT_TRANSACTED = 0x80100016;      // no transaction to end
inline constexpr Status SCARD_E_READER_UNAVAILABLE = 0x80100017;  // reader not available for use
inline constexpr Status SCARD_P_SHUTDOWN = 0x80100018;            // forces server termination
inline constexpr Status SCARD_E_PCI_TOO_SMALL = 0x80100019;       // PCI receive buffer too small
inline constexpr Status SCARD_E_READER_UNSUPPORTED = 0x8010001A;  // reader driver not supported
inline constexpr Status SCARD_E_DUPLICATE_READER = 0x8010001B;    // reader name not unique
inline constexpr Status SCARD_E_CARD_UNSUPPORTED = 0x8010001C;    // card not supported
inline constexpr Status SCARD_E_NO_SERVICE = 0x8010001D;          // resource manager not running
inline constexpr Status SCARD_E_SERVICE_STOPPED = 0x8010001E;     // resource manager has shut down
inline constexpr Status SCARD_E_NO_READERS_AVAILABLE = 0x8010002E;  // no reader attached
// What the binding answers for an entry point it cannot call.
inline constexpr Status SCARD_E_UNSUPPORTED_FEATURE = platform::kUnsupportedFeature;
inline constexpr Status SCARD_W_UNSUPPORTED_CARD = 0x80100065;   // ATR configuration conflict
inline constexpr Status SCARD_W_UNRESPONSIVE_CARD = 0x80100066;  // card not responding to reset
inline constexpr Status SCARD_W_UNPOWERED_CARD = 0x80100067;     // card power removed
inline constexpr Status SCARD_W_RESET_CARD = 0x80100068;         // card reset, shared state lost
inline constexpr Status SCARD_W_REMOVED_CARD = 0x80100069;       // card removed

// System error codes that a broken connection to the service yields.
inline constexpr Status ERROR_INVALID_HANDLE = 6;
inline constexpr Status ERROR_BROKEN_PIPE = 109;

}  // namespace pcsc
