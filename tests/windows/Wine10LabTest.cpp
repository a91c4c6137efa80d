// The library against a real smart-card service, from Windows: run by
// scripts/wine10-lab inside Debian 13, whose Wine 10 winscard.dll talks to a
// pcscd 2.x with two vpcd readers. The lab tells the readers' names
// (VARDEL_EXPECT_READERS, ';' between names) and a folder shared with it
// (VARDEL_LAB_SHARE, a Unix path): when the test writes "ready-for-card" there,
// the lab inserts a vicc card into the first reader.
//
// Wine 10 passes pcsc-lite's codes through and its status-change wait never
// blocks and always reports a change: the manager must cope with both.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "pcsc/MainThread.h"
#include "pcsc/PCSC.h"
#include "pcsc/TextConversions.h"

using namespace pcsc;
using namespace std::chrono_literals;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::u16string> ExpectedReaders() {
    std::vector<std::u16string> readers;
    const std::string all = Env("VARDEL_EXPECT_READERS");
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find(';', start);
        if (end == std::string::npos) end = all.size();
        if (end > start) readers.push_back(pcsc::Utf8ToUtf16(all.substr(start, end - start)));
        start = end + 1;
    }
    return readers;
}

std::string Narrow(const std::u16string& text) {
    return pcsc::Utf16ToUtf8(text);
}

// The lab's share as Wine shows it (drive Z: is the Unix root).
std::string ShareFile(const std::string& name) {
    std::string path = "Z:" + Env("VARDEL_LAB_SHARE") + "/" + name;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

}  // namespace

TEST(Wine10Lab, TheBindingListsTheLabReaders) {
    const std::vector<std::u16string> expected = ExpectedReaders();
    ASSERT_FALSE(expected.empty()) << "VARDEL_EXPECT_READERS is not set";
    TPCSCRaw raw;
    ASSERT_TRUE(raw.Initialize()) << platform::LastLoadError();
    Handle context = 0;
    ASSERT_EQ(raw.SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, context),
              SCARD_S_SUCCESS);
    std::uint32_t size = 0;
    ASSERT_EQ(raw.SCardListReaders(context, nullptr, nullptr, size), SCARD_S_SUCCESS);
    std::u16string buffer(size, u'\0');
    ASSERT_EQ(raw.SCardListReaders(context, nullptr, buffer.data(), size), SCARD_S_SUCCESS);
    StringList names;
    ASSERT_TRUE(ReaderMultiStringToList(buffer.data(), static_cast<std::int32_t>(size), &names));
    EXPECT_EQ(names, expected);
    EXPECT_EQ(raw.SCardReleaseContext(context), SCARD_S_SUCCESS);
}

TEST(Wine10Lab, TheManagerFindsTheReadersAndSeesACardInserted) {
    const std::vector<std::u16string> expected = ExpectedReaders();
    ASSERT_FALSE(expected.empty()) << "VARDEL_EXPECT_READERS is not set";
    PlainMainLoop loop;
    SetMainThread(&loop);
    {
        std::vector<std::u16string> found;
        std::vector<std::string> inserted;
        TPCSC manager;
        ASSERT_TRUE(manager.Valid());
        manager.SetOnReaderFound(
            [&](TPCSC*, const std::u16string& reader) { found.push_back(reader); });
        manager.SetOnCardInserted([&](TPCSC*, const std::u16string& reader, const Bytes& atr) {
            inserted.push_back(Narrow(reader) + " " + Narrow(BytesToHexString(atr)));
        });
        loop.SetIdleHook([&] { manager.ProcessEvent(); });
        manager.Start();
        ASSERT_TRUE(loop.RunUntil([&] { return found.size() >= expected.size(); },
                                  std::chrono::steady_clock::now() + 20s));
        EXPECT_EQ(found, expected);
        EXPECT_TRUE(inserted.empty()) << "no card yet: " << (inserted.empty() ? "" : inserted[0]);

        // The lab inserts a card into the first reader.
        std::ofstream(ShareFile("ready-for-card")) << "ready\n";
        ASSERT_TRUE(loop.RunUntil([&] { return !inserted.empty(); },
                                  std::chrono::steady_clock::now() + 20s))
            << "no card seen in " << Narrow(expected[0]);
        EXPECT_EQ(inserted[0].rfind(Narrow(expected[0]) + " 3B ", 0), 0u) << inserted[0];
        loop.SetIdleHook(nullptr);
    }
    SetMainThread(nullptr);
}
