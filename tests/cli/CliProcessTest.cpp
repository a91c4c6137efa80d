// vardel-lecteurs-cli as a program, where no smart-card service is needed:
// help, version, --explain, usage errors, a missing library and the serial
// check alone.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Process.h"
#include "SysfsTree.h"
#include "TextReport.h"

using cli_test::Finished;

namespace {

const std::string kCli = CLI_PATH;

}  // namespace

TEST(CliProgram, HelpAndVersion) {
    const Finished help = cli_test::Run(kCli, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage : vardel-lecteurs-cli"), std::string::npos);
    EXPECT_NE(help.out.find("Code de sortie"), std::string::npos);
    EXPECT_NE(help.out.find("--explain CODE"), std::string::npos);
    const Finished version = cli_test::Run(kCli, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "vardel-lecteurs-cli " VARDEL_VERSION "\n");
}

TEST(CliProgram, ExplainPrintsTheErrorTextOfAnyCode) {
    for (const char* code : {"0x8010001D", "-2146435043", "2148532253"}) {
        const Finished run = cli_test::Run(kCli, {"--explain", code});
        EXPECT_EQ(run.status, 0) << code;
        EXPECT_EQ(run.out, "The Smart card resource manager is not running.\n") << code;
        EXPECT_EQ(run.err, "");
    }
    const Finished unknown = cli_test::Run(kCli, {"--explain=0x12345678"});
    EXPECT_EQ(unknown.status, 0);
    EXPECT_EQ(unknown.out, "Unknown Error: 305419896\n");
    const Finished unreadable = cli_test::Run(kCli, {"--explain", "SCARD_E_NO_SERVICE"});
    EXPECT_EQ(unreadable.status, 64);
    EXPECT_EQ(unreadable.out, "");
    EXPECT_NE(unreadable.err.find("SCARD_E_NO_SERVICE"), std::string::npos);
}

TEST(CliProgram, UsageErrorsExit64WithAWordOnStderr) {
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--bogus"},
                                               {"--check", "usb"},
                                               {"--timeout", "0"},
                                               {"--color=sometimes"},
                                               {"lecteurs"}}) {
        const Finished run = cli_test::Run(kCli, bad);
        EXPECT_EQ(run.status, 64) << bad.front();
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("vardel-lecteurs-cli --help"), std::string::npos) << run.err;
    }
}

TEST(CliProgram, AMissingLibraryIsUnreachable) {
    cli_test::SysfsTree sysfs;
    const Finished run = cli_test::Run(kCli, {},
                                       {{"VARDEL_PCSC_LIBRARY", "/nonexistent/libpcsclite.so.1"},
                                        {"VARDEL_SYSFS_ROOT", sysfs.Root()}});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(cli_test::ReportPart(run.out),
              "== Lecteurs PC/SC ==\n"
              "Erreur lors de la connexion au service\n"
              "\n"
              "== Lecteurs COM (GALSS) ==\n"
              "Aucun port série n'est déclaré par le système\n"
              "\n"
              "== Lecteurs PC/SC (sans ScardSvr) ==\n"
              "Erreur au lancement de la commande - SCardEstablishContext\n");
    EXPECT_EQ(run.err, "");
}

TEST(CliProgram, TheSerialCheckAloneSucceedsWhenItFindsAUsbPort) {
    cli_test::SysfsTree sysfs;
    const std::map<std::string, std::string> env{
        {"VARDEL_SYSFS_ROOT", sysfs.Root()},
        {"VARDEL_PCSC_LIBRARY", "/nonexistent/libpcsclite.so.1"}};
    const Finished none = cli_test::Run(kCli, {"--check", "com"}, env);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(cli_test::ReportPart(none.out),
              "== Lecteurs COM (GALSS) ==\nAucun port série n'est déclaré par le système\n");
    EXPECT_EQ(cli_test::BilanPart(none.out), "OK : aucun port série USB\n");

    sysfs.UsbPort();
    const Finished found = cli_test::Run(kCli, {"--check", "com"}, env);
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(cli_test::ReportPart(found.out),
              "== Lecteurs COM (GALSS) ==\n"
              "Ports série du système trouvés\n"
              "Liste des ports série :\n"
              "/dev/ttyACM0 : 1-1:1.0\n");
    const Finished json = cli_test::Run(kCli, {"--check", "com", "--json"}, env);
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find(R"("ports":[{"port":"/dev/ttyACM0","device":"1-1:1.0"}])"),
              std::string::npos)
        << json.out;

    // With a PC/SC check selected too, a port alone is not a reader found.
    const Finished both = cli_test::Run(kCli, {"--check", "com,direct"}, env);
    EXPECT_EQ(both.status, 2);
}
