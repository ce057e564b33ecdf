// An installed workbench records into the user's documents folder: beside the program is /usr/bin
// (or the usr/bin of an unpacked package), where no user's data belongs.
#include "RunProgram.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using testing_support::RunProgram;

// Sets an environment variable for the programs this test starts, and puts it back afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (had_)
            ::setenv(name_, old_.c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(InstalledWorkbench, RecordsIntoTheDocumentsFolderNotBesideTheProgram) {
    const fs::path root = fs::temp_directory_path() / ("tarvo-installed-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path bin = root / "usr" / "bin";
    const fs::path home = root / "home";
    fs::create_directories(bin);
    fs::create_directories(home);
    fs::copy_file(TARVO_WORKBENCH_PATH, bin / "tarvo-workbench");

    ScopedEnvironment homeVariable("HOME", home.string());
    // No user-dirs.dirs of the machine's own user may redirect the documents folder.
    ScopedEnvironment config("XDG_CONFIG_HOME", (home / ".config").string());
    ScopedEnvironment platform("QT_QPA_PLATFORM", "offscreen");
    const auto result = RunProgram((bin / "tarvo-workbench").string(), {"--simulate", "--record", "1"});
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;

    const std::string prefix = "record: ";
    const auto at = result.out.find(prefix);
    ASSERT_NE(at, std::string::npos) << result.out;
    const fs::path file =
        result.out.substr(at + prefix.size(), result.out.find('\n', at) - at - prefix.size());
    EXPECT_EQ(file.parent_path(), home / "Documents");
    std::ifstream in(file);
    std::string header, record;
    std::getline(in, header);
    std::getline(in, record);
    EXPECT_EQ(header.rfind("Time(ms);RX;", 0), 0u) << header;
    EXPECT_FALSE(record.empty());
    // Nothing but the program itself in its folder.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(bin))
        ++entries;
    EXPECT_EQ(entries, 1);
    fs::remove_all(root);
}

} // namespace
