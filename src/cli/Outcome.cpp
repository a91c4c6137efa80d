#include "cli/Outcome.h"

#include "pcsc/TextConversions.h"

namespace cli {

const char* CheckTitleUtf8(CheckId id) {
    // Made once and kept: the watchdog reads them from its own thread.
    static const std::string titles[] = {pcsc::Utf16ToUtf8(CheckTitle(CheckId::Service)),
                                         pcsc::Utf16ToUtf8(CheckTitle(CheckId::Serial)),
                                         pcsc::Utf16ToUtf8(CheckTitle(CheckId::Direct))};
    switch (id) {
        case CheckId::Service: return titles[0].c_str();
        case CheckId::Serial: return titles[1].c_str();
        case CheckId::Direct: return titles[2].c_str();
    }
    return "";
}

}  // namespace cli
