// tarvo-cli config save / apply / diff: profiles taken from one simulated encoder and applied to
// another, refused where they do not fit (nothing written), a register that will not take its
// value (the simulator's regerror, and a scripted encoder that reads back another value), and
// the bad-input table, which must stop before the adapter is even looked for.
#include "CliFixture.h"
#include "ConfigProfile.h"
#include "K310Simulator.h"
#include "RunProgram.h"
#include "SimDevice.h"
#include "SimOptions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using testing_support::ProgramOutput;
using testing_support::RunProgram;

namespace {

const std::string kExample = std::string(TARVO_EXAMPLES_DIR) + "/profiles/t1.json";

// A preset with its supply on, ready to be identified.
std::unique_ptr<sim::K310Simulator> StartSimulator(const std::string& preset) {
    sim::SimOptions options;
    std::string error;
    EXPECT_TRUE(sim::ParseSimOptions(preset + ",power-on=1", options, error)) << error;
    auto simulator = std::make_unique<sim::K310Simulator>(options);
    EXPECT_TRUE(simulator->Start(&error)) << error;
    return simulator;
}

ProgramOutput RunCli(const sim::K310Simulator& simulator, std::vector<std::string> args) {
    args.push_back("--port");
    args.push_back(simulator.SlavePath());
    return RunProgram(TARVO_CLI_PATH, args);
}

using Config = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>;

Config Fields(const sim::EncoderConfig& c) {
    return {c.positionOffset, c.positionFilter, c.mtErrThreshold, c.selfCalArc, c.selfCalTimeout};
}

Config Ram(const sim::K310Simulator& simulator) {
    Config c;
    simulator.Inspect([&](sim::SimDevice& d, double) { c = Fields(d.Config()); });
    return c;
}

Config Saved(const sim::K310Simulator& simulator) {
    Config c;
    simulator.Inspect([&](sim::SimDevice& d, double) { c = Fields(d.SavedConfig()); });
    return c;
}

std::vector<std::string> Writes(const sim::K310Simulator& simulator) {
    std::vector<std::string> writes;
    for (const auto& r : simulator.Received())
        if (r.command.rfind("W:", 0) == 0) writes.push_back(r.command);
    return writes;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ConfigProfiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("tarvo-cli-profile-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    std::string Write(const std::string& name, const std::string& text) const {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    fs::path folder;
};

TEST_F(ConfigProfiles, SavedFromOneEncoderAppliedToAnotherOfTheTypeLeavesNoDifference) {
    auto first = StartSimulator("t1");
    auto r = RunCli(*first, {"config", "apply", kExample});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Config applied = Ram(*first);
    ASSERT_NE(applied, Ram(*StartSimulator("t1"))) << "the example must differ from a fresh encoder";

    const std::string file = (folder / "from-first.json").string();
    r = RunCli(*first, {"config", "save", file, "--name", "line 3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The file holds what the encoder holds, as an independent look at the simulator says.
    std::string error;
    Procedures::TConfigProfile saved;
    ASSERT_TRUE(Procedures::ReadProfileFile(file, saved, error)) << error;
    EXPECT_EQ(saved.Name, "line 3");
    EXPECT_EQ(saved.EncoderType, 1);
    EXPECT_EQ(saved.Layout, "legacy");
    EXPECT_EQ(saved.PartNumberPattern, "VK766-0A18B00010");
    const auto [offset, filter, arc, selfCalArc, timeout] = applied;
    const std::vector<std::pair<std::string, uint32_t>> expected = {{"POSITION_OFFSET", offset},
                                                                    {"POSITION_FILTER", filter},
                                                                    {"MT_ERR_TRESHOLD", arc},
                                                                    {"SELF_CAL_ARC", selfCalArc},
                                                                    {"SELF_CAL_TIMEOUT", timeout}};
    EXPECT_EQ(saved.Registers, expected);
    EXPECT_FALSE(fs::exists(file + ".part"));

    auto second = StartSimulator("t1");
    const Config before = Ram(*second);
    r = RunCli(*second, {"config", "diff", file});
    EXPECT_EQ(r.exitCode, 1) << "a fresh encoder differs from the profile";
    EXPECT_TRUE(Contains(r.out, "registers.POSITION_FILTER: profile " + std::to_string(filter) +
                                    ", encoder " + std::to_string(std::get<1>(before))))
        << r.out;
    EXPECT_EQ(Ram(*second), before) << "diff must not write";

    r = RunCli(*second, {"config", "apply", file});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "POSITION_OFFSET: " + std::to_string(offset) + "\nPOSITION_FILTER: " +
                         std::to_string(filter) + "\nMT_ERR_TRESHOLD: " + std::to_string(arc) +
                         "\nSELF_CAL_ARC: " + std::to_string(selfCalArc) +
                         "\nSELF_CAL_TIMEOUT: " + std::to_string(timeout) + "\nsaved: no\n");
    EXPECT_EQ(Ram(*second), applied);
    EXPECT_EQ(Saved(*second), before) << "without --save nothing goes to NVRAM";
    r = RunCli(*second, {"config", "diff", file});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "");

    // With --save the values survive in NVRAM.
    r = RunCli(*second, {"config", "apply", file, "--save", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Saved(*second), applied);
    EXPECT_TRUE(Contains(r.out, "\"saved\":true")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\"POSITION_FILTER\":{\"written\":" + std::to_string(filter) +
                                    ",\"readBack\":" + std::to_string(filter) + ",\"match\":true}"))
        << r.out;
}

TEST_F(ConfigProfiles, AProfileThatDoesNotFitIsRefusedAndNothingIsWritten) {
    const std::string mtArcOnType1 = Write("arc.json", R"({"format": 1, "profile": "p",
        "encoder": {"type": 1, "layout": "legacy", "part_number": "VK*"},
        "registers": {"POSITION_FILTER": 3, "MT_ERR_TRESHOLD": 10}})");
    struct Row {
        const char* preset;
        std::string profile;
        std::string why;
    };
    const std::vector<Row> rows = {
        {"t2", kExample, "the encoder is type 2, the profile is for type 1"},
        {"t5", kExample, "the encoder is type 5, the profile is for type 1"},
        {"t1mt", kExample,
         "the encoder's part number VK876-0A19M00020 does not match the profile's VK766-0A18B*"},
        {"bare", mtArcOnType1, "the encoder has no MT_ERR_TRESHOLD register"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.preset);
        auto simulator = StartSimulator(row.preset);
        const Config ram = Ram(*simulator), saved = Saved(*simulator);
        const auto r = RunCli(*simulator, {"config", "apply", row.profile, "--save"});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "tarvo-cli: the profile does not fit: " + row.why + "\n");
        EXPECT_EQ(Writes(*simulator), std::vector<std::string>{});
        EXPECT_EQ(Ram(*simulator), ram);
        EXPECT_EQ(Saved(*simulator), saved);
    }
}

TEST_F(ConfigProfiles, ARegisterThatRefusesItsValueFailsTheApplyNamingItAndIsNotSaved) {
    auto simulator = StartSimulator("t1");
    const Config saved = Saved(*simulator);
    // POSITION_FILTER of the legacy layout answers "not writable".
    ASSERT_EQ(simulator->Control("regerror 4 96"), "ok");
    auto r = RunCli(*simulator, {"config", "apply", kExample, "--save"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.err, "tarvo-cli: POSITION_FILTER: write failed: ")) << r.err;
    for (const char* other : {"POSITION_OFFSET:", "MT_ERR_TRESHOLD:", "SELF_CAL_ARC:", "SELF_CAL_TIMEOUT:"})
        EXPECT_FALSE(Contains(r.err, other)) << "only the failing register is named: " << r.err;
    EXPECT_EQ(Saved(*simulator), saved) << "a profile that did not take must not be saved";
    for (const std::string& w : Writes(*simulator))
        EXPECT_NE(w, "W:0001:00000049:00000063") << "save to NVRAM sent";

    r = RunCli(*simulator, {"config", "apply", kExample, "--json"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Contains(r.out, "\"ok\":false")) << r.out;
    EXPECT_TRUE(
        Contains(r.out, "\"POSITION_FILTER\":{\"written\":3,\"readBack\":null,\"match\":false,\"error\":"))
        << r.out;
}

// An encoder that takes the write but keeps another value: only a read-back shows it.
class ScriptedEncoderProfile : public clitest::Cli {};

TEST_F(ScriptedEncoderProfile, AValueReadBackOtherwiseThanWrittenFailsNamingTheRegister) {
    const fs::path file = fs::temp_directory_path() / "tarvo-cli-profile-scripted.json";
    std::ofstream(file) << R"({"format": 1, "profile": "p",
        "encoder": {"type": 2, "layout": "legacy", "part_number": "TRV-2-*"},
        "registers": {"POSITION_FILTER": 3, "SELF_CAL_ARC": 90}})";
    ExpectAdapter();
    ExpectIdentification();
    ExpectWrite(0x04, 4, 3);
    ExpectRead(0x04, 4, 4);
    ExpectWrite(0x19, 2, 90);
    ExpectRead(0x19, 2, 90);
    // No save follows: the peer reports any command it was not told to expect.
    const auto r = Run({"config", "apply", file.string(), "--save"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tarvo-cli: POSITION_FILTER: wrote 3, read back 4\n");
    fs::remove(file);
}

TEST_F(ConfigProfiles, ABadProfileStopsBeforeTheAdapterIsLookedFor) {
    struct Row {
        const char* what;
        std::string text;
        std::string error;
    };
    const std::string good = R"("encoder": {"type": 1, "layout": "legacy", "part_number": "VK766-0A18B*"})";
    const std::vector<Row> rows = {
        {"not JSON", "{\"format\": 1,\n \"profile\" \"p\"}", "not JSON (line 2, column 14)"},
        {"a string for a number",
         R"({"format": 1, "profile": "p", )" + good + R"(, "registers": {"POSITION_FILTER": "7a"}})",
         R"(registers.POSITION_FILTER: expected an integer 0..4294967295, got "7a")"},
        {"an unknown register",
         R"({"format": 1, "profile": "p", )" + good + R"(, "registers": {"FILTER": 3}})",
         "registers.FILTER: no such register"},
        {"out of range",
         R"({"format": 1, "profile": "p", )" + good + R"(, "registers": {"SELF_CAL_ARC": 70000}})",
         "registers.SELF_CAL_ARC: expected an integer 0..65535, got 70000"},
        {"negative",
         R"({"format": 1, "profile": "p", )" + good + R"(, "registers": {"POSITION_OFFSET": -2}})",
         "registers.POSITION_OFFSET: expected an integer 0..4294967295, got -2"},
        {"a fraction",
         R"({"format": 1, "profile": "p", )" + good + R"(, "registers": {"POSITION_FILTER": 0.5}})",
         "registers.POSITION_FILTER: expected an integer 0..4294967295, got 0.5"},
        {"a missing field",
         R"({"format": 1, "profile": "p", "encoder": {"layout": "legacy", "part_number": "*"},
            "registers": {"POSITION_FILTER": 3}})",
         "encoder.type: missing"},
        {"a register twice",
         R"({"format": 1, "profile": "p", )" + good +
             R"(, "registers": {"SELF_CAL_ARC": 1, "SELF_CAL_ARC": 2}})",
         "registers.SELF_CAL_ARC: given twice"},
    };
    auto simulator = StartSimulator("t1");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string file = Write("bad.json", row.text);
        for (const char* action : {"apply", "diff"}) {
            SCOPED_TRACE(action);
            auto r = RunCli(*simulator, {"config", action, file});
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_EQ(r.err.rfind("tarvo-cli: " + file + ": " + row.error, 0), 0u) << r.err;
            EXPECT_EQ(r.out, "");
            r = RunCli(*simulator, {"config", action, file, "--json"});
            EXPECT_EQ(r.exitCode, 2);
            EXPECT_EQ(r.out.rfind("{\"ok\":false,\"LastErrorText\":", 0), 0u) << r.out;
        }
    }
    const auto r = RunCli(*simulator, {"config", "apply", (folder / "missing.json").string()});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "cannot read " + (folder / "missing.json").string() + ": ")) << r.err;
    EXPECT_EQ(simulator->CommandCount(), 0u) << "the adapter was looked for";
}

TEST_F(ConfigProfiles, SaveIntoAFolderThatCannotBeWrittenFailsWithTheReason) {
    auto simulator = StartSimulator("t1");
    const std::string file = (folder / "no such folder" / "p.json").string();
    const auto r = RunCli(*simulator, {"config", "save", file});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("tarvo-cli: cannot write " + file + ": ", 0), 0u) << r.err;
    EXPECT_TRUE(Contains(r.err, "No such file or directory")) << r.err;
    EXPECT_FALSE(fs::exists(folder / "no such folder"));
}

TEST_F(ConfigProfiles, CommandLineMistakes) {
    struct Row {
        std::vector<std::string> args;
        std::string problem;
    };
    const std::vector<Row> rows = {
        {{"config"}, "config needs: save FILE, apply FILE or diff FILE"},
        {{"config", "load", "f.json"}, "config needs: save FILE, apply FILE or diff FILE"},
        {{"config", "save"}, "config save needs one FILE"},
        {{"config", "apply", "a.json", "b.json"}, "config apply needs one FILE"},
        {{"config", "diff", "f.json", "--save"}, "--save goes with config apply"},
        {{"config", "apply", "f.json", "--name", "x"}, "--name goes with config save"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.problem);
        const auto r = RunProgram(TARVO_CLI_PATH, row.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.rfind("tarvo-cli: " + row.problem + "\n", 0), 0u) << r.err;
    }
}

} // namespace
