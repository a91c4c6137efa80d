// The reader object: its context, its connection and command exchange.
#include "pcsc/Reader.h"

#include "pcsc/PCSCRaw.h"
#include "pcsc/ServiceStatus.h"
#include "pcsc/Tools.h"

namespace pcsc {
namespace {

// Room for the longest extended response; the response is cut to its size.
constexpr std::uint32_t kTransmitRoom = 66000;
constexpr std::uint32_t kControlRoom = 264;

}  // namespace

TPCSCReader::TPCSCReader(const std::u16string& AReaderName, std::shared_ptr<TPCSCRaw> PCSCRaw)
    : FPCSCRaw(std::move(PCSCRaw)), FReaderName(AReaderName), FDisplayName(AReaderName) {
    EstablishContext();
    ClearATR();
}

TPCSCReader::~TPCSCReader() {
    if (FPCSCDeviceContext != 0) FPCSCRaw->SCardReleaseContext(FPCSCDeviceContext);
}

Status TPCSCReader::EstablishContext() {
    FLastContextAttempt = std::chrono::steady_clock::now();
    Status status =
        FPCSCRaw->SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, FPCSCDeviceContext);
    if (status != SCARD_S_SUCCESS) {
        status =
            FPCSCRaw->SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, FPCSCDeviceContext);
    }
    // A failed call may leave anything in the handle: keep "none".
    if (status != SCARD_S_SUCCESS) FPCSCDeviceContext = 0;
    return status;
}

void TPCSCReader::RenewContextAfter(Status failure) {
    if (!IsServiceLost(failure)) return;
    if (std::chrono::steady_clock::now() - FLastContextAttempt < std::chrono::seconds(1)) return;
    // The connection belonged to the dead context.
    FCardHandle = kNoCardHandle;
    FProtocolType = TPcscProtocol::prNC;
    if (FPCSCDeviceContext != 0) {
        FPCSCRaw->SCardReleaseContext(
            FPCSCDeviceContext);  // frees it even when the service answers no
        FPCSCDeviceContext = 0;
    }
    EstablishContext();
}

Status TPCSCReader::Connect(std::uint32_t ShareMode) {
    if (FCardHandle != kNoCardHandle) return SCARD_S_SUCCESS;
    const bool direct = ShareMode == SCARD_SHARE_DIRECT;
    std::uint32_t active = 0;
    const Status status = FPCSCRaw->SCardConnect(
        FPCSCDeviceContext, FReaderName.c_str(), ShareMode,
        direct ? SCARD_PROTOCOL_UNDEFINED : (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1), FCardHandle,
        active);
    if (status != SCARD_S_SUCCESS) {
        FCardHandle = kNoCardHandle;
        return status;
    }
    FDirectMode = direct;
    if (active == SCARD_PROTOCOL_T0) {
        FProtocolType = TPcscProtocol::prT0;
    } else if (active == SCARD_PROTOCOL_T1) {
        FProtocolType = TPcscProtocol::prT1;
    } else if (active == SCARD_PROTOCOL_RAW || direct) {
        FProtocolType = TPcscProtocol::prRaw;
    } else {
        FProtocolType = TPcscProtocol::prNC;
    }
    return SCARD_S_SUCCESS;
}

Status TPCSCReader::Disconnect(std::uint32_t Disposition) {
    if (FCardHandle == kNoCardHandle) return SCARD_S_SUCCESS;
    const Status status = FPCSCRaw->SCardDisconnect(FCardHandle, Disposition);
    FProtocolType = TPcscProtocol::prNC;
    FCardHandle = kNoCardHandle;
    return status;
}

Status TPCSCReader::ResetCard(bool WarmReset) {
    std::uint32_t preferred;
    switch (FProtocolType) {
        case TPcscProtocol::prT0: preferred = SCARD_PROTOCOL_T0; break;
        case TPcscProtocol::prT1: preferred = SCARD_PROTOCOL_T1; break;
        case TPcscProtocol::prRaw: preferred = SCARD_PROTOCOL_RAW; break;
        default: return SCARD_E_INVALID_PARAMETER;
    }
    std::uint32_t active = 0;
    const Status status =
        FPCSCRaw->SCardReconnect(FCardHandle, SCARD_SHARE_SHARED, preferred,
                                 WarmReset ? SCARD_RESET_CARD : SCARD_UNPOWER_CARD, active);
    if (status != SCARD_S_SUCCESS) return status;
    if (active == SCARD_PROTOCOL_T0) {
        FProtocolType = TPcscProtocol::prT0;
    } else if (active == SCARD_PROTOCOL_T1) {
        FProtocolType = TPcscProtocol::prT1;
    } else if (active == SCARD_PROTOCOL_RAW) {
        FProtocolType = TPcscProtocol::prRaw;
    }
    return SCARD_S_SUCCESS;
}

Status TPCSCReader::BeginTransaction() {
    return FPCSCRaw->SCardBeginTransaction(FCardHandle);
}

Status TPCSCReader::EndTransaction() {
    return FPCSCRaw->SCardEndTransaction(FCardHandle, SCARD_LEAVE_CARD);
}

Status TPCSCReader::TransmitBuffer(const std::uint8_t* Send, std::uint32_t SendLength,
                                   std::uint8_t* Receive, std::uint32_t& ReceiveLength,
                                   std::uint16_t& SW) {
    SW = 0;
    const TSCardIoRequest* pci;
    switch (FProtocolType) {
        case TPcscProtocol::prT0: pci = SCARD_PCI_T0; break;
        case TPcscProtocol::prT1: pci = SCARD_PCI_T1; break;
        default: return SCARD_E_INVALID_PARAMETER;
    }
    const std::uint32_t room = ReceiveLength;
    const Status status = FPCSCRaw->SCardTransmit(FCardHandle, pci, Send, SendLength, nullptr,
                                                  Receive, ReceiveLength);
    // A length beyond the buffer is not what the library wrote: nothing of it
    // is read (the callers then give no data).
    if (status == SCARD_S_SUCCESS && ReceiveLength >= 2 && ReceiveLength <= room) {
        SW = static_cast<std::uint16_t>(Receive[ReceiveLength - 2] * 256 +
                                        Receive[ReceiveLength - 1]);
    }
    return status;
}

Status TPCSCReader::TransmitSW(const Bytes& DataIn, Bytes& DataOut, std::uint16_t& SW12) {
    DataOut.assign(kTransmitRoom, 0);
    std::uint32_t received = kTransmitRoom;
    const Status status = TransmitBuffer(DataIn.data(), static_cast<std::uint32_t>(DataIn.size()),
                                         DataOut.data(), received, SW12);
    if (status != SCARD_S_SUCCESS || received < 2 || received > kTransmitRoom) {
        DataOut.clear();
    } else {
        DataOut.resize(received - 2);
    }
    DataOut.shrink_to_fit();
    return status;
}

Status TPCSCReader::Transmit(const Bytes& DataIn, Bytes& DataOut) {
    DataOut.assign(kTransmitRoom, 0);
    std::uint32_t received = kTransmitRoom;
    std::uint16_t sw = 0;
    const Status status = TransmitBuffer(DataIn.data(), static_cast<std::uint32_t>(DataIn.size()),
                                         DataOut.data(), received, sw);
    if (status != SCARD_S_SUCCESS || received > kTransmitRoom) {
        DataOut.clear();
    } else {
        DataOut.resize(received);
    }
    DataOut.shrink_to_fit();
    return status;
}

Status TPCSCReader::TransmitAsString(const std::u16string& DataIn, Bytes& DataOut) {
    return Transmit(HexStringToBytes(DataIn), DataOut);
}

Status TPCSCReader::TransmitAsStringSW(const std::u16string& DataIn, Bytes& DataOut,
                                       std::uint16_t& SW12) {
    return TransmitSW(HexStringToBytes(DataIn), DataOut, SW12);
}

Status TPCSCReader::ControlBuffer(std::uint32_t Function, const std::uint8_t* Input,
                                  std::uint32_t InputLength, std::uint8_t* Output,
                                  std::uint32_t& ReturnedLength) {
    const std::uint32_t code = FPCSCRaw->SCardCTLCode(Function);
    return FPCSCRaw->SCardControl(FCardHandle, code, Input, InputLength, Output, ReturnedLength,
                                  ReturnedLength);
}

Status TPCSCReader::IOCTL(std::uint32_t IOCtlCode, const Bytes& DataIn, Bytes& DataOut) {
    DataOut.assign(kControlRoom, 0);
    std::uint32_t returned = kControlRoom;
    const Status status =
        ControlBuffer(IOCtlCode, DataIn.data(), static_cast<std::uint32_t>(DataIn.size()),
                      DataOut.data(), returned);
    if (status != SCARD_S_SUCCESS || returned > kControlRoom) {
        DataOut.clear();
    } else {
        DataOut.resize(returned);
    }
    return status;
}

Status TPCSCReader::IOCTLString(std::uint32_t IOCtlCode, const std::u16string& DataIn,
                                Bytes& DataOut) {
    return IOCTL(IOCtlCode, HexStringToBytes(DataIn), DataOut);
}

std::u16string TPCSCReader::ATRasString() const {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string text;
    text.reserve(FATR.size() * 2);
    for (std::uint8_t b : FATR) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

void TPCSCReader::ClearATR() {
    FATR.clear();
    FValidCard = false;
}

}  // namespace pcsc
