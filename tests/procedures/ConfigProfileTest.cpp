// Configuration profiles on their own: what a profile file may hold and the message each mistake
// gets (naming its JSON path), the part-number pattern, the file written whole, and the
// differences between a profile and an encoder. Applying profiles to an encoder is tested through
// tarvo-cli against the simulator.
#include "ConfigProfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Procedures::TConfigProfile;

namespace {

// A valid profile with its registers (the text inside "registers": {...}) or its encoder replaced.
std::string WithRegisters(const std::string& registers) {
    return R"({"format": 1, "profile": "p", "encoder": {"type": 1, "layout": "legacy", "part_number": "VK766-*"},
              "registers": {)" +
           registers + "}}";
}

std::string WithEncoder(const std::string& encoder) {
    return R"({"format": 1, "profile": "p", "encoder": {)" + encoder +
           R"(}, "registers": {"POSITION_FILTER": 3}})";
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ConfigProfile, AFullProfileIsReadWithItsRegistersInTheFixedOrder) {
    // Given in another order than the fixed one, and with every register at its largest value.
    const std::string json = R"({
      "format": 1,
      "profile": "t1 line 3",
      "encoder": {"type": 5, "layout": "new", "part_number": "QX120-0R19B*"},
      "registers": {"SELF_CAL_TIMEOUT": 255, "SELF_CAL_ARC": 65535, "MT_ERR_TRESHOLD": 255,
                    "POSITION_FILTER": 4294967295, "POSITION_OFFSET": 0}
    })";
    TConfigProfile p;
    std::string error;
    ASSERT_TRUE(Procedures::ParseProfile(json, p, error)) << error;
    EXPECT_EQ(p.Name, "t1 line 3");
    EXPECT_EQ(p.EncoderType, 5);
    EXPECT_EQ(p.Layout, "new");
    EXPECT_EQ(p.PartNumberPattern, "QX120-0R19B*");
    const std::vector<std::pair<std::string, uint32_t>> expected = {{"POSITION_OFFSET", 0},
                                                                    {"POSITION_FILTER", 4294967295u},
                                                                    {"MT_ERR_TRESHOLD", 255},
                                                                    {"SELF_CAL_ARC", 65535},
                                                                    {"SELF_CAL_TIMEOUT", 255}};
    EXPECT_EQ(p.Registers, expected);
}

TEST(ConfigProfile, EveryMistakeIsRefusedWithItsJsonPath) {
    struct Row {
        const char* what;
        std::string json;
        std::string error;
    };
    const std::vector<Row> rows = {
        {"a string for a number", WithRegisters(R"("POSITION_FILTER": "7a")"),
         R"(registers.POSITION_FILTER: expected an integer 0..4294967295, got "7a")"},
        {"beyond 32 bits", WithRegisters(R"("POSITION_OFFSET": 4294967296)"),
         "registers.POSITION_OFFSET: expected an integer 0..4294967295, got 4294967296"},
        {"beyond one byte", WithRegisters(R"("MT_ERR_TRESHOLD": 256)"),
         "registers.MT_ERR_TRESHOLD: expected an integer 0..255, got 256"},
        {"beyond two bytes", WithRegisters(R"("SELF_CAL_ARC": 65536)"),
         "registers.SELF_CAL_ARC: expected an integer 0..65535, got 65536"},
        {"negative", WithRegisters(R"("SELF_CAL_TIMEOUT": -1)"),
         "registers.SELF_CAL_TIMEOUT: expected an integer 0..255, got -1"},
        {"a fraction", WithRegisters(R"("POSITION_FILTER": 2.5)"),
         "registers.POSITION_FILTER: expected an integer 0..4294967295, got 2.5"},
        {"a whole number written as a fraction", WithRegisters(R"("POSITION_FILTER": 3.0)"),
         "registers.POSITION_FILTER: expected an integer 0..4294967295, got 3.0"},
        {"true for a number", WithRegisters(R"("POSITION_FILTER": true)"),
         "registers.POSITION_FILTER: expected an integer 0..4294967295, got true"},
        {"null for a number", WithRegisters(R"("POSITION_FILTER": null)"),
         "registers.POSITION_FILTER: expected an integer 0..4294967295, got null"},
        {"an unknown register", WithRegisters(R"("POSITION_FILTR": 3)"),
         "registers.POSITION_FILTR: no such register (a profile sets POSITION_OFFSET, POSITION_FILTER, "
         "MT_ERR_TRESHOLD, SELF_CAL_ARC, SELF_CAL_TIMEOUT)"},
        {"a register that is not configurable", WithRegisters(R"("MT_PRESET": 3)"),
         "registers.MT_PRESET: no such register (a profile sets POSITION_OFFSET, POSITION_FILTER, "
         "MT_ERR_TRESHOLD, SELF_CAL_ARC, SELF_CAL_TIMEOUT)"},
        {"a register given twice", WithRegisters(R"("POSITION_FILTER": 3, "POSITION_FILTER": 4)"),
         "registers.POSITION_FILTER: given twice"},
        {"no register", WithRegisters(""),
         "registers: lists no register (a profile sets POSITION_OFFSET, POSITION_FILTER, MT_ERR_TRESHOLD, "
         "SELF_CAL_ARC, SELF_CAL_TIMEOUT)"},
        {"registers as a list", R"({"format": 1, "profile": "p",
            "encoder": {"type": 1, "layout": "legacy", "part_number": "*"}, "registers": [3]})",
         "registers: expected an object, got an array"},
        {"no type", WithEncoder(R"("layout": "legacy", "part_number": "*")"), "encoder.type: missing"},
        {"type beyond 6", WithEncoder(R"("type": 7, "layout": "new", "part_number": "*")"),
         "encoder.type: expected an integer 1..6, got 7"},
        {"type as text", WithEncoder(R"("type": "1", "layout": "legacy", "part_number": "*")"),
         R"(encoder.type: expected an integer 1..6, got "1")"},
        {"an unknown layout", WithEncoder(R"("type": 1, "layout": "old", "part_number": "*")"),
         R"(encoder.layout: expected "legacy" or "new", got "old")"},
        {"a layout the type does not have",
         WithEncoder(R"("type": 5, "layout": "legacy", "part_number": "*")"),
         R"(encoder.layout: encoder type 5 has the "new" layout, got "legacy")"},
        {"no part number", WithEncoder(R"("type": 1, "layout": "legacy")"), "encoder.part_number: missing"},
        {"an empty part number", WithEncoder(R"("type": 1, "layout": "legacy", "part_number": "")"),
         R"(encoder.part_number: expected a part number or a pattern (* and ? as wildcards), got "")"},
        {"a misspelt field", WithEncoder(R"("type": 1, "layout": "legacy", "partnumber": "*")"),
         "encoder.partnumber: unknown field (expected type, layout, part_number)"},
        {"a key given twice in the encoder",
         WithEncoder(R"("type": 1, "type": 2, "layout": "legacy", "part_number": "*")"),
         "encoder.type: given twice"},
        {"no encoder", R"({"format": 1, "profile": "p", "registers": {"POSITION_FILTER": 3}})",
         "encoder: missing"},
        {"no registers",
         R"({"format": 1, "profile": "p", "encoder": {"type": 1, "layout": "legacy", "part_number": "*"}})",
         "registers: missing"},
        {"no format", R"({"profile": "p", "encoder": {"type": 1, "layout": "legacy", "part_number": "*"},
            "registers": {"POSITION_FILTER": 3}})",
         "format: missing"},
        {"a later format", R"({"format": 2, "profile": "p", "encoder": {"type": 1, "layout": "legacy",
            "part_number": "*"}, "registers": {"POSITION_FILTER": 3}})",
         "format: expected 1 (the profile format this program reads), got 2"},
        {"a name that is no text", R"({"format": 1, "profile": 7, "encoder": {"type": 1, "layout": "legacy",
            "part_number": "*"}, "registers": {"POSITION_FILTER": 3}})",
         "profile: expected a string, got 7"},
        {"an unknown top-level field", R"({"format": 1, "profile": "p", "note": "x", "encoder": {"type": 1,
            "layout": "legacy", "part_number": "*"}, "registers": {"POSITION_FILTER": 3}})",
         "note: unknown field (expected format, profile, encoder, registers)"},
        {"a list at the top", "[1, 2]", "the profile: expected a JSON object, got an array"},
        {"not JSON: a missing comma on line 3", "{\n  \"format\": 1\n  \"profile\": \"p\"\n}",
         "not JSON (line 3, column 11): syntax error while parsing object - unexpected string literal; "
         "expected "
         "'}'"},
        {"not JSON: cut short", "{\"format\": 1,",
         "not JSON (line 1, column 14): syntax error while parsing "
         "object key - unexpected end of input; expected string literal"},
        {"not JSON: empty", "",
         "not JSON (line 1, column 1): syntax error while parsing value - unexpected end of "
         "input; expected '[', '{', or a literal"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TConfigProfile p;
        p.Name = "untouched";
        std::string error;
        EXPECT_FALSE(Procedures::ParseProfile(row.json, p, error));
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(p.Name, "untouched") << "a refused profile must leave the target as it was";
    }
}

TEST(ConfigProfile, PartNumberPatterns) {
    struct Row {
        const char* pattern;
        const char* text;
        bool match;
    };
    const std::vector<Row> rows = {
        {"VK766-0A18B00010", "VK766-0A18B00010", true},
        {"VK766-0A18B00010", "VK766-0A18B00011", false},
        {"VK766-0A18B*", "VK766-0A18B00010", true},
        {"VK766-0A18B*", "VK766-0A18B", true},
        {"VK766-0A18B*", "VK876-0A19M00020", false},
        {"VK7?"
         "?-0A18B*",
         "VK766-0A18B00010", true},
        {"VK7?"
         "?-0A18B*",
         "VK76-0A18B00010", false},
        {"*", "", true},
        {"*", "anything", true},
        {"*0010", "VK766-0A18B00010", true},
        {"*0010", "VK766-0A18B00100", false},
        {"VK*0A*B*", "VK766-0A18B00010", true},
        {"vk766-*", "VK766-0A18B00010", false},
        {"VK766", "VK766-0A18B00010", false},
        {"?", "", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " / " + row.text);
        EXPECT_EQ(Procedures::PartNumberMatches(row.pattern, row.text), row.match);
    }
}

TEST(ConfigProfile, TheJsonWrittenReadsBackAsTheSameProfileInAStableForm) {
    TConfigProfile p;
    p.Name = "Linija \"3\" \xC5\xBE"
             "aga"; // a quote and a letter beyond ASCII survive
    p.EncoderType = 1;
    p.Layout = "legacy";
    p.PartNumberPattern = "VK766-0A18B*";
    p.Registers = {{"POSITION_OFFSET", 17}, {"POSITION_FILTER", 3}, {"SELF_CAL_ARC", 360}};
    const std::string json = Procedures::ProfileJson(p);
    EXPECT_EQ(json, "{\n"
                    "  \"format\": 1,\n"
                    "  \"profile\": \"Linija \\\"3\\\" \xC5\xBE"
                    "aga\",\n"
                    "  \"encoder\": {\n"
                    "    \"type\": 1,\n"
                    "    \"layout\": \"legacy\",\n"
                    "    \"part_number\": \"VK766-0A18B*\"\n"
                    "  },\n"
                    "  \"registers\": {\n"
                    "    \"POSITION_OFFSET\": 17,\n"
                    "    \"POSITION_FILTER\": 3,\n"
                    "    \"SELF_CAL_ARC\": 360\n"
                    "  }\n"
                    "}\n");
    TConfigProfile back;
    std::string error;
    ASSERT_TRUE(Procedures::ParseProfile(json, back, error)) << error;
    EXPECT_EQ(back.Name, p.Name);
    EXPECT_EQ(back.Registers, p.Registers);
    EXPECT_EQ(Procedures::ProfileJson(back), json);
}

class ProfileFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder =
            fs::temp_directory_path() /
            ("tarvo-profile-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        profile.Name = "p";
        profile.EncoderType = 2;
        profile.Layout = "legacy";
        profile.PartNumberPattern = "VK886-*";
        profile.Registers = {{"POSITION_FILTER", 5}};
    }
    void TearDown() override { fs::remove_all(folder); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path folder;
    TConfigProfile profile;
};

TEST_F(ProfileFile, ReplacesAnOlderFileWholeAndLeavesNoTemporaryName) {
    const fs::path file = folder / "p.json";
    std::ofstream(file) << "an older profile, much longer than the new one will be ................";
    // A temporary name a crash left behind is not taken over.
    std::ofstream(folder / "p.json.part") << "left by a crash";
    std::string error;
    ASSERT_TRUE(Procedures::WriteProfileFile(file.string(), profile, error)) << error;
    EXPECT_EQ(ReadAll(file), Procedures::ProfileJson(profile));
    EXPECT_EQ(ReadAll(folder / "p.json.part"), "left by a crash");
    EXPECT_EQ(Names(), (std::vector<std::string>{"p.json", "p.json.part"}));
    TConfigProfile back;
    ASSERT_TRUE(Procedures::ReadProfileFile(file.string(), back, error)) << error;
    EXPECT_EQ(back.Registers, profile.Registers);
}

TEST_F(ProfileFile, AFolderThatCannotBeWrittenFailsWithTheReason) {
    const std::string missing = (folder / "no such folder" / "p.json").string();
    std::string error;
    EXPECT_FALSE(Procedures::WriteProfileFile(missing, profile, error));
    EXPECT_EQ(error.rfind("cannot write " + missing + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), ("cannot write " + missing + ": ").size()) << "the system's reason is missing";
    EXPECT_TRUE(Names().empty());
}

TEST_F(ProfileFile, ReadingNamesTheFileInEveryError) {
    const fs::path bad = folder / "bad.json";
    std::ofstream(bad) << WithRegisters(R"("POSITION_FILTER": "7a")");
    TConfigProfile p;
    std::string error;
    EXPECT_FALSE(Procedures::ReadProfileFile(bad.string(), p, error));
    EXPECT_EQ(error,
              bad.string() + R"(: registers.POSITION_FILTER: expected an integer 0..4294967295, got "7a")");
    const fs::path missing = folder / "missing.json";
    EXPECT_FALSE(Procedures::ReadProfileFile(missing.string(), p, error));
    EXPECT_EQ(error.rfind("cannot read " + missing.string() + ": ", 0), 0u) << error;
}

TEST(ConfigProfile, DifferencesNameEachFieldThatDiffers) {
    TConfigProfile wanted;
    wanted.EncoderType = 1;
    wanted.Layout = "legacy";
    wanted.PartNumberPattern = "VK766-*";
    wanted.Registers = {{"POSITION_OFFSET", 0}, {"POSITION_FILTER", 3}, {"MT_ERR_TRESHOLD", 10}};
    TConfigProfile actual = wanted;
    actual.PartNumberPattern = "VK766-0A18B00010";
    EXPECT_TRUE(Procedures::ProfileDifferences(wanted, actual).empty());

    // Registers the profile does not set are no difference.
    actual.Registers.emplace_back("SELF_CAL_ARC", 90);
    EXPECT_TRUE(Procedures::ProfileDifferences(wanted, actual).empty());

    actual.EncoderType = 2;
    actual.PartNumberPattern = "VK886-0N18B00030";
    actual.Registers = {{"POSITION_OFFSET", 0}, {"POSITION_FILTER", 4}};
    const std::vector<std::string> expected = {
        "encoder.type: profile 1, encoder 2",
        "encoder.part_number: profile VK766-*, encoder VK886-0N18B00030",
        "registers.POSITION_FILTER: profile 3, encoder 4",
        "registers.MT_ERR_TRESHOLD: profile 10, the encoder has none",
    };
    EXPECT_EQ(Procedures::ProfileDifferences(wanted, actual), expected);
}

} // namespace
