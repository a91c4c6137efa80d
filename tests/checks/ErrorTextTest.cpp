// The English explanations of status codes, as the direct check prints them.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "checks/safeModule.h"

using checks::SCardErrorText;

TEST(SCardErrorText, EveryCodeWithATextOfItsOwn) {
    const std::vector<std::pair<pcsc::Status, std::u16string>> table = {
        {0x80100001, u"An internal consistency check failed."},
        {0x80100002, u"The action was cancelled by an SCardCancel request."},
        {0x80100003, u"The supplied handle was invalid."},
        {0x80100004, u"One or more of the supplied parameters could not be properly interpreted."},
        {0x80100005, u"Registry startup information is missing or invalid."},
        {0x80100006, u"Not enough memory available to complete this command."},
        {0x80100007, u"An internal consistency timer has expired."},
        {0x80100008,
         u"The data buffer to receive returned data is too small for the returned data."},
        {0x80100009, u"The specified reader name is not recognized."},
        {0x8010000A, u"The user-specified timeout value has expired."},
        {0x8010000B,
         u"The smart card cannot be accessed because of other connections outstanding."},
        {0x8010000C,
         u"The operation requires a Smart Card, but no Smart Card is currently in the device."},
        {0x8010000D, u"The specified smart card name is not recognized."},
        {0x8010000E, u"The system could not dispose of the media in the requested manner."},
        {0x8010000F,
         u"The requested protocols are incompatible with the protocol currently in use with the smart card."},
        {0x80100010, u"The reader or smart card is not ready to accept commands."},
        {0x80100011,
         u"One or more of the supplied parameters values could not be properly interpreted."},
        {0x80100012,
         u"The action was cancelled by the system, presumably to log off or shut down."},
        {0x80100013, u"An internal communications error has been detected."},
        {0x80100014, u"An internal error has been detected, but the source is unknown."},
        {0x80100015, u"An ATR obtained from the registry is not a valid ATR string."},
        {0x80100016, u"An attempt was made to end a non-existent transaction."},
        {0x80100017, u"The specified reader is not currently available for use."},
        {0x80100018, u"PRIVATE -- Internal flag to force server termination."},
        {0x80100019, u"The PCI Receive buffer was too small."},
        {0x8010001A, u"The reader driver does not meet minimal requirements for support."},
        {0x8010001B, u"The reader driver did not produce a unique reader name."},
        {0x8010001C, u"The smart card does not meet minimal requirements for support."},
        {0x8010001D, u"The Smart card resource manager is not running."},
        {0x8010001E, u"The Smart card resource manager has shut down."},
        {0x80100065,
         u"The reader cannot communicate with the smart card, due to ATR configuration conflicts."},
        {0x80100066, u"The smart card is not responding to a reset."},
        {0x80100067,
         u"Power has been removed from the smart card, so that further communication is not possible."},
        {0x80100068, u"The smart card has been reset, so any shared state information is invalid."},
        {0x80100069,
         u"The smart card has been removed, so that further communication is not possible."},
    };
    ASSERT_EQ(table.size(), 35u);
    for (const auto& [code, text] : table) {
        EXPECT_EQ(SCardErrorText(code), text) << std::hex << "code 0x" << code;
    }
}

TEST(SCardErrorText, AnyOtherCodeIsUnknownWithItsSignedDecimal) {
    // Success, the neighbours of both ranges, the gap between them (no
    // reader, unsupported feature on either platform) and the extremes.
    const std::vector<std::pair<pcsc::Status, std::u16string>> unknown = {
        {0x00000000u, u"Unknown Error: 0"},           {0x00000001u, u"Unknown Error: 1"},
        {0x7FFFFFFFu, u"Unknown Error: 2147483647"},  {0xFFFFFFFFu, u"Unknown Error: -1"},
        {0x80100000u, u"Unknown Error: -2146435072"}, {0x8010001Fu, u"Unknown Error: -2146435041"},
        {0x80100022u, u"Unknown Error: -2146435038"}, {0x8010002Eu, u"Unknown Error: -2146435026"},
        {0x80100064u, u"Unknown Error: -2146434972"}, {0x8010006Au, u"Unknown Error: -2146434966"},
    };
    for (const auto& [code, text] : unknown) {
        EXPECT_EQ(SCardErrorText(code), text) << std::hex << "code 0x" << code;
    }
}

TEST(SCardErrorText, DetailLineShowsTheCodeThenItsText) {
    EXPECT_EQ(checks::ErrorDetailLine(0x8010001D),
              u"Erreur (-2146435043) : The Smart card resource manager is not running.");
    EXPECT_EQ(checks::ErrorDetailLine(0x8010002E),
              u"Erreur (-2146435026) : Unknown Error: -2146435026");
}
