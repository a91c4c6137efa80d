// One smart-card reader the service lists, identified by its name: its own
// context, an optional connection to the reader, the card state it last saw,
// the ATR of the card last seen available and the details read from it.
//
// A reader is used from one thread only (the manager's main thread); it holds
// no lock. Every operation returns the service's status code and raises
// nothing; output byte arrays are emptied on entry and left empty on failure.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pcsc/PCSCDef.h"

namespace pcsc {

class TPCSC;
class TPCSCRaw;

enum class TCardState : std::uint8_t {
    csUnknown = 0,    // not yet known, or not classifiable
    csExclusive = 1,  // a card is present and an application holds it exclusively
    csShared = 2,     // a card is present and applications share it
    csAvailable = 3,  // a card is present, answered with an ATR and is free
    csBadCard = 4,    // a card is present but mute, or gives no ATR
    csNoCard = 5,     // the reader is empty
};

class TPCSCReader;
using TOnPCSCReaderEvent = std::function<void(TPCSCReader* PCSCReader)>;

class TPCSCReader {
public:
    // Establishes the reader's own context (system scope, else user scope).
    // Never fails: without a context every later call reports the service's
    // error. The binding is shared so that it outlives every user.
    TPCSCReader(const std::u16string& AReaderName, std::shared_ptr<TPCSCRaw> PCSCRaw);
    // Releases the context; an open connection is not disconnected first.
    ~TPCSCReader();
    TPCSCReader(const TPCSCReader&) = delete;
    TPCSCReader& operator=(const TPCSCReader&) = delete;

    Status Connect(std::uint32_t ShareMode);
    Status Disconnect(std::uint32_t Disposition);
    Status ResetCard(bool WarmReset);
    Status BeginTransaction();
    Status EndTransaction();
    // Response data without SW1 SW2, which go to SW12 (SW1 in the high byte).
    Status TransmitSW(const Bytes& DataIn, Bytes& DataOut, std::uint16_t& SW12);
    // The whole response, SW1 SW2 included.
    Status Transmit(const Bytes& DataIn, Bytes& DataOut);
    Status TransmitAsString(const std::u16string& DataIn, Bytes& DataOut);
    Status TransmitAsStringSW(const std::u16string& DataIn, Bytes& DataOut, std::uint16_t& SW12);
    // IOCtlCode is a function number (2049), made a control code by the binding.
    Status IOCTL(std::uint32_t IOCtlCode, const Bytes& DataIn, Bytes& DataOut);
    Status IOCTLString(std::uint32_t IOCtlCode, const std::u16string& DataIn, Bytes& DataOut);

    // Asks the service for the reader's present state and reports a change of
    // card state through OnCardStateChanged (not for csShared/csExclusive).
    void CheckCardState();

    const std::u16string& ReaderName() const { return FReaderName; }
    TCardState CardState() const { return FCardState; }
    const Bytes& ATR() const { return FATR; }
    // Two upper-case digits per byte, no separator: "3B021450".
    std::u16string ATRasString() const;
    TPcscProtocol Protocol() const { return FProtocolType; }
    Handle CardHandle() const { return FCardHandle; }
    const TOnPCSCReaderEvent& OnCardStateChanged() const { return FOnCardStateChanged; }
    void SetOnCardStateChanged(TOnPCSCReaderEvent Event) { FOnCardStateChanged = std::move(Event); }
    const std::u16string& VendorName() const { return FVendorName; }
    const std::u16string& DisplayName() const { return FDisplayName; }
    std::int32_t DrvMajor() const { return FDrvMajor; }
    std::int32_t DrvMinor() const { return FDrvMinor; }
    std::int32_t FirmwareMajor() const { return FIFDMajor; }
    std::int32_t FirmwareMinor() const { return FIFDMinor; }
    const std::u16string& Serial() const { return FSerial; }
    // Which details ReadReaderDetails could read (a front end shows "-" for
    // the others).
    bool DriverVersionRead() const { return FDriverVersionRead; }
    bool FirmwareVersionRead() const { return FFirmwareVersionRead; }

private:
    friend class TPCSC;

    Status TransmitBuffer(const std::uint8_t* Send, std::uint32_t SendLength, std::uint8_t* Receive,
                          std::uint32_t& ReceiveLength, std::uint16_t& SW);
    Status ControlBuffer(std::uint32_t Function, const std::uint8_t* Input,
                         std::uint32_t InputLength, std::uint8_t* Output,
                         std::uint32_t& ReturnedLength);
    void ClearATR();

    // Connects in direct mode once, at discovery, and reads vendor name,
    // display name, driver and firmware versions and serial number.
    void ReadReaderDetails();
    bool GetAttribCardinal(std::uint32_t AttrId, std::uint32_t& Value);
    bool GetAttribString(std::uint32_t AttrId, std::u16string& Value);
    void ReadVendorName();
    void ReadDisplayName();
    void ReadDriverVersion();
    void ReadVendorIFDVersion();
    void ReadSerial();

    Status EstablishContext();
    // After the service went away (or restarted) the old context answers
    // "no service" for ever: get a new one, at most once a second.
    void RenewContextAfter(Status failure);

    TOnPCSCReaderEvent FOnCardStateChanged;
    std::shared_ptr<TPCSCRaw> FPCSCRaw;
    std::u16string FReaderName;
    TCardState FCardState = TCardState::csUnknown;
    Handle FCardHandle = kNoCardHandle;
    TPcscProtocol FProtocolType = TPcscProtocol::prNC;
    Handle FPCSCDeviceContext = 0;
    std::u16string FVendorName;
    std::u16string FDisplayName;
    std::uint32_t FVendorIFDVersion = 0;
    std::int32_t FIFDMajor = 0;
    std::int32_t FIFDMinor = 0;
    std::int32_t FDrvMajor = 0;
    std::int32_t FDrvMinor = 0;
    std::u16string FSerial;
    bool FValidCard = false;
    Bytes FATR;
    bool FDirectMode = false;
    bool FDriverVersionRead = false;
    bool FFirmwareVersionRead = false;
    std::chrono::steady_clock::time_point FLastContextAttempt{};
};

}  // namespace pcsc
