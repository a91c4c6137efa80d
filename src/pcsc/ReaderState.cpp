// The reader's card-state poll and the details read at discovery.
#include <algorithm>

#include "pcsc/PCSCRaw.h"
#include "pcsc/Reader.h"
#include "pcsc/TextConversions.h"

namespace pcsc {
namespace {

// The reader's version query answers 12 bytes; bytes 4 to 7 hold driver
// major, minor, firmware major, minor.
constexpr std::uint32_t kVersionReplySize = 12;
constexpr std::uint32_t kVersionBytesNeeded = 8;
constexpr std::uint32_t kAttributeTextRoom = 256;

// Two decimal digits, one per nibble; nibbles above 9 are not checked.
std::int32_t Bcd(std::uint32_t byte) {
    return static_cast<std::int32_t>((byte >> 4) * 10 + (byte & 0x0F));
}

}  // namespace

void TPCSCReader::CheckCardState() {
    TSCardReaderStateA state{FReaderName.c_str()};
    const Status status = FPCSCRaw->SCardGetStatusChange(FPCSCDeviceContext, 1, &state, 1);
    if (status != SCARD_S_SUCCESS) {
        RenewContextAfter(status);
        return;
    }
    const std::uint32_t e = state.dwEventState;
    TCardState next;
    if (e & SCARD_STATE_UNAVAILABLE) {
        next = FCardState;
    } else if (!(e & SCARD_STATE_PRESENT)) {
        if (e & SCARD_STATE_EMPTY) {
            next = TCardState::csNoCard;
        } else {
            next = state.cbAtr == 0 ? TCardState::csBadCard : TCardState::csUnknown;
        }
    } else if (e & SCARD_STATE_EXCLUSIVE) {
        next = TCardState::csExclusive;
    } else if (e & SCARD_STATE_INUSE) {
        next = TCardState::csShared;
    } else if (e & SCARD_STATE_MUTE) {
        next = TCardState::csBadCard;
    } else {
        next = TCardState::csAvailable;
    }
    if (next == FCardState) return;
    FCardState = next;
    if (next == TCardState::csShared || next == TCardState::csExclusive) return;

    ClearATR();
    if (next == TCardState::csNoCard || next == TCardState::csBadCard) {
        Disconnect(SCARD_UNPOWER_CARD);
    } else if (next == TCardState::csAvailable) {
        const std::uint32_t length = std::min<std::uint32_t>(state.cbAtr, sizeof state.rgbAtr);
        FATR.assign(state.rgbAtr, state.rgbAtr + length);
        FValidCard = true;
    }
    // Through a copy: the handler may free this reader (and its manager).
    if (const auto handler = FOnCardStateChanged) handler(this);
}

bool TPCSCReader::GetAttribCardinal(std::uint32_t AttrId, std::uint32_t& Value) {
    Value = 0;
    if (FCardHandle == kNoCardHandle) return false;
    std::uint8_t buffer[4] = {};
    std::uint32_t length = sizeof buffer;
    if (FPCSCRaw->SCardGetAttrib(FCardHandle, AttrId, buffer, length) != SCARD_S_SUCCESS)
        return false;
    // The attribute is the reader's own 32-bit number, in the machine's order.
    std::uint32_t value = 0;
    std::copy_n(buffer, sizeof value, reinterpret_cast<std::uint8_t*>(&value));
    Value = value;
    return true;
}

bool TPCSCReader::GetAttribString(std::uint32_t AttrId, std::u16string& Value) {
    Value.clear();
    if (FCardHandle == kNoCardHandle) return false;
    std::uint8_t buffer[kAttributeTextRoom] = {};
    std::uint32_t length = kAttributeTextRoom;
    if (FPCSCRaw->SCardGetAttrib(FCardHandle, AttrId, buffer, length) != SCARD_S_SUCCESS)
        return false;
    // Up to the first zero byte, never past the buffer: the length the
    // service returns is not trusted.
    const auto end = std::find(buffer, buffer + kAttributeTextRoom, 0);
    Value = AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(buffer),
                                         static_cast<std::size_t>(end - buffer)));
    return true;
}

void TPCSCReader::ReadVendorName() {
    FVendorName.clear();
    GetAttribString(SCARD_ATTR_VENDOR_NAME, FVendorName);
}

void TPCSCReader::ReadDisplayName() {
    FDisplayName.clear();
    GetAttribString(SCARD_ATTR_DEVICE_FRIENDLY_NAME_A, FDisplayName);
    if (FDisplayName.empty()) FDisplayName = FReaderName;
}

void TPCSCReader::ReadDriverVersion() {
    std::uint8_t reply[kVersionReplySize] = {};
    std::uint32_t returned = kVersionReplySize;
    if (ControlBuffer(IOCTL_READER_VERSION_FUNCTION, nullptr, 0, reply, returned) !=
        SCARD_S_SUCCESS)
        return;
    // A shorter reply holds no version: keep what is known.
    if (returned < kVersionBytesNeeded) return;
    FDrvMajor = reply[4];
    FDrvMinor = reply[5];
    FIFDMajor = reply[6];
    FIFDMinor = reply[7];
    FDriverVersionRead = true;
    FFirmwareVersionRead = true;
}

void TPCSCReader::ReadVendorIFDVersion() {
    FVendorIFDVersion = 0;
    if (!GetAttribCardinal(SCARD_ATTR_VENDOR_IFD_VERSION, FVendorIFDVersion)) return;
    FIFDMajor = Bcd((FVendorIFDVersion >> 24) & 0xFF);
    FIFDMinor = Bcd((FVendorIFDVersion >> 16) & 0xFF);
    FFirmwareVersionRead = true;
}

void TPCSCReader::ReadSerial() {
    FSerial.clear();
    GetAttribString(SCARD_ATTR_VENDOR_IFD_SERIAL_NO, FSerial);
}

void TPCSCReader::ReadReaderDetails() {
    if (Connect(SCARD_SHARE_DIRECT) != SCARD_S_SUCCESS) return;
    struct CloseAfter {
        TPCSCReader* reader;
        ~CloseAfter() { reader->Disconnect(SCARD_LEAVE_CARD); }
    } close{this};
    ReadVendorName();
    ReadDisplayName();
    ReadDriverVersion();
    ReadVendorIFDVersion();
    ReadSerial();
}

}  // namespace pcsc
