// One run of vardel-lecteurs-cli's service check over the tests' fake
// smart-card library serving many readers: the whole front end in this
// process (manager, listing, discovery, details, queue, text report), timed
// from the call to its return. A machine has a handful of readers, but a
// buggy driver may present hundreds: what one more reader costs must not
// grow with their number.
//
// usage: vardel-readers-run FAKE_LIBRARY READERS RUNS [--details]
// Prints one line: "readers N details 0|1 ms T1 T2 ..." (one time per run,
// after one run not counted).
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "FakePcscControl.h"
#include "cli/Cli.h"

namespace {

// The fake's control functions, from the file the binding loads too.
class Fake {
public:
    explicit Fake(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (!handle_) throw std::runtime_error("cannot load " + path + ": " + dlerror());
        setenv("VARDEL_PCSC_LIBRARY", path.c_str(), 1);
        Get<decltype(&fake_pcsc_reset)>("fake_pcsc_reset")();
    }

    // Readers named "Lecteur 00000"...; each answers a vendor name and a
    // serial number, for the details.
    void AddReaders(int count) {
        const auto add = Get<decltype(&fake_pcsc_add_reader)>("fake_pcsc_add_reader");
        const auto attribute = Get<decltype(&fake_pcsc_set_attrib)>("fake_pcsc_set_attrib");
        const std::string vendor = "ACME Cartes";
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Lecteur %05d", i);
            add(name);
            const std::string serial = "SN-" + std::to_string(i);
            attribute(name, pcsc::SCARD_ATTR_VENDOR_NAME,
                      reinterpret_cast<const unsigned char*>(vendor.c_str()), vendor.size() + 1);
            attribute(name, pcsc::SCARD_ATTR_VENDOR_IFD_SERIAL_NO,
                      reinterpret_cast<const unsigned char*>(serial.c_str()), serial.size() + 1);
        }
    }

private:
    template <typename F>
    F Get(const char* symbol) {
        void* address = dlsym(handle_, symbol);
        if (!address) throw std::runtime_error(std::string("the fake library lacks ") + symbol);
        return reinterpret_cast<F>(address);
    }

    void* handle_;
};

// One run; its time in milliseconds. A run that does not list every reader
// is no measurement.
double TimedRun(const cli::Options& options, int readers) {
    cli::StringOutput out;
    cli::StringOutput err;
    cli::StopRequest stop;
    cli::Environment environment{out, err, stop, false, checks::RunPlatformSerialCheck};
    const auto start = std::chrono::steady_clock::now();
    const int status = cli::RunCli(options, environment);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    const std::string text = out.Text();
    const std::size_t lastReader =
        text.find("Lecteur " + std::to_string(100000 + readers - 1).substr(1) + "\n");
    if (status != cli::kExitReaderFound || lastReader == std::string::npos) {
        throw std::runtime_error("the run did not list every reader (status " +
                                 std::to_string(status) + "): " + err.Text());
    }
    return took.count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (arguments.size() < 3 || arguments.size() > 4 ||
        (arguments.size() == 4 && arguments[3] != "--details")) {
        std::fprintf(stderr, "usage: vardel-readers-run FAKE_LIBRARY READERS RUNS [--details]\n");
        return 64;
    }
    const int readers = std::atoi(argv[2]);
    const int runs = std::atoi(argv[3]);
    const bool details = arguments.size() == 4;
    if (readers < 1 || readers > 99999 || runs < 1) {
        std::fprintf(stderr, "vardel-readers-run: 1 to 99999 readers, 1 run or more\n");
        return 64;
    }
    try {
        Fake fake(argv[1]);
        fake.AddReaders(readers);
        std::vector<std::string_view> cliArguments{"--check", "pcsc"};
        if (details) cliArguments.push_back("--details");
        const cli::Options options = cli::ParseArguments(cliArguments);
        TimedRun(options, readers);  // caches and allocator warm for the runs counted
        std::printf("readers %d details %d ms", readers, details ? 1 : 0);
        for (int r = 0; r < runs; ++r) std::printf(" %.3f", TimedRun(options, readers));
        std::printf("\n");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vardel-readers-run: %s\n", error.what());
        return 1;
    }
    return 0;
}
