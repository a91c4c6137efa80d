// vardel-pcsc-probe: asks the smart-card service, through the library's
// binding, which readers it sees and what each holds. A first look at a
// machine until the full checks are there.
#include <cstdio>
#include <string>

#include "pcsc/PCSC.h"

using namespace pcsc;

namespace {

std::string Utf8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

void Failed(const char* what, Status status) {
    std::printf("%s: 0x%08X (%d)\n", what, status, static_cast<int>(static_cast<std::int32_t>(status)));
}

}  // namespace

int main() {
    TPCSCRaw raw;
    std::printf("Smart-card library: %s\n", platform::SmartCardLibraryPath().c_str());
    if (!raw.Initialize()) {
        const std::string why = platform::LastLoadError();
        std::printf("The smart-card library cannot be used%s%s\n", why.empty() ? "" : ": ", why.c_str());
        return 2;
    }
    Handle context = 0;
    Status status = raw.SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, context);
    if (status != SCARD_S_SUCCESS) {
        Failed("SCardEstablishContext", status);
        return 2;
    }
    std::uint32_t size = 0;
    status = raw.SCardListReaders(context, nullptr, nullptr, size);
    std::u16string buffer(size, u'\0');
    if (status == SCARD_S_SUCCESS) status = raw.SCardListReaders(context, nullptr, buffer.data(), size);
    StringList readers;
    if (status == SCARD_S_SUCCESS) {
        ReaderMultiStringToList(buffer.data(), static_cast<std::int32_t>(size), &readers);
    } else if (status != SCARD_E_NO_READERS_AVAILABLE) {
        Failed("SCardListReaders", status);
    }
    std::printf("%zu reader(s)\n", readers.size());
    for (const std::u16string& name : readers) {
        TSCardReaderStateA state{name.c_str()};
        const Status polled = raw.SCardGetStatusChange(context, 1, &state, 1);
        std::printf("  %s", Utf8(name).c_str());
        if (polled != SCARD_S_SUCCESS) {
            std::printf(" (state unknown: 0x%08X)\n", polled);
        } else if (state.dwEventState & SCARD_STATE_PRESENT) {
            const Bytes atr(state.rgbAtr, state.rgbAtr + state.cbAtr);
            std::printf(": card, ATR %s\n", Utf8(BytesToHexString(atr)).c_str());
        } else {
            std::printf(": empty\n");
        }
    }
    raw.SCardReleaseContext(context);
    return readers.empty() ? 1 : 0;
}
