// The protocol's rules that need no port, built and run on Linux and, under Wine, on Windows:
// candidates from the system's list of serial ports, the adapter's version from its greeting, a
// transaction without a port.
#include "AdapterDiscovery.h"
#include "PortList.h"
#include "Serial_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace D = AdapterDiscovery;
using platform::PortListEntry;
using platform::PortListKind;

namespace {

struct Expected {
    std::string path;
    int number;
};

void ExpectCandidates(const std::vector<D::Candidate>& found, const std::vector<Expected>& expected) {
    ASSERT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].path, expected[i].path);
        EXPECT_EQ(found[i].number, expected[i].number);
    }
}

TEST(UsbAcmCandidates, AscendingByNumberOnlyAcmPorts) {
    platform::PortList list{PortListKind::TtyClassFolder, "/dev", {}};
    for (const char* name :
         {"ttyACM12", "ttyACM3", "ttyACM0", "ttyUSB1", "ttyACMx", "tty5", "ttyACM", "ttyACM3"})
        list.entries.push_back({name, {}});
    ExpectCandidates(D::CandidatesFromPortList(list),
                     {{"/dev/ttyACM0", 0}, {"/dev/ttyACM3", 3}, {"/dev/ttyACM12", 12}});
    list.entries.clear();
    EXPECT_TRUE(D::CandidatesFromPortList(list).empty());
}

// The registry's SERIALCOMM values as Windows lists them: the USB CDC driver's names hold
// "USBSER", others (built-in ports, Wine's \Device\SerialN) are not the adapter's.
TEST(UsbSerCandidates, FromTheRegistryValues) {
    struct Case {
        const char* what;
        std::vector<PortListEntry> values;
        std::vector<Expected> expected;
    };
    const Case cases[] = {
        {"two adapters are tried in ascending order",
         {{"\\Device\\USBSER000", "COM12"}, {"\\Device\\USBSER001", "COM3"}},
         {{"COM3", 3}, {"COM12", 12}}},
        {"a port named twice is tried once",
         {{"\\Device\\USBSER000", "COM7"}, {"\\Device\\USBSER001", "COM7"}},
         {{"COM7", 7}}},
        {"a number that cannot be read is port 1",
         {{"\\Device\\USBSER000", "COMX"}, {"\\Device\\USBSER001", "COM"}, {"\\Device\\USBSER002", "COM4a"}},
         {{"COM1", 1}}},
        {"other drivers' ports and texts not beginning with COM are skipped",
         {{"\\Device\\Serial0", "COM1"},
          {"\\Device\\VCP0", "COM9"},
          {"\\Device\\USBSER000", "LPT2"},
          {"\\Device\\USBSER001", "com6"},
          {"\\Device\\UsbSer002", "COM8"},
          {"\\Device\\USBSER003", "COM5"}},
         {{"COM5", 5}}},
        {"USBSER anywhere in the name",
         {{"USBSER", "COM20"}, {"\\Device\\xUSBSERy", "COM2"}},
         {{"COM2", 2}, {"COM20", 20}}},
        {"ascending by number beyond three digits",
         {{"USBSER1", "COM1000"}, {"USBSER2", "COM999"}},
         {{"COM999", 999}, {"COM1000", 1000}}},
        {"an empty key", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectCandidates(D::CandidatesFromPortList({PortListKind::SerialCommKey, "", c.values}), c.expected);
    }
}

// The running system's own list: read without error, of the kind the system has, and every
// candidate it gives is one the rules allow.
TEST(SystemCandidates, TheSystemListIsReadAndItsCandidatesFollowTheRules) {
    int osError = -1;
    const platform::PortList list = platform::SystemPortList(&osError);
    EXPECT_EQ(osError, 0);
    if (list.kind == PortListKind::TtyClassFolder) {
        EXPECT_EQ(list.deviceFolder, "/dev");
        EXPECT_FALSE(list.entries.empty()) << "every Linux system lists its consoles";
    }
    const auto found = D::SystemCandidates();
    EXPECT_EQ(found.size(), D::CandidatesFromPortList(list).size());
    for (size_t i = 1; i < found.size(); ++i)
        EXPECT_LT(found[i - 1].number, found[i].number);
}

TEST(AdapterVersion, FromTheRawReply) {
    struct Case {
        const char* reply;
        int version;
    };
    const Case cases[] = {
        {"K310-7K v1.09\r", 109}, {"K310-7K v2.15", 215}, {"K310-7K", 0},         {"K310-7K v1.", 100},
        {"K310-7K v1.9", 109},    {"K310-7K vX.1Z", 0},   {"K310-7K v3.-1", 300}, {"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(D::VersionFromReply(c.reply), c.version);
    }
}

TEST(TransactionWithoutPort, NoPortGivesMinusThreeAndLeavesTheReply) {
    Serial_driver::ResetSerialDriverState();
    Serial_driver::TraceEnabled = true;
    std::string reply = "untouched";
    EXPECT_EQ(Serial_driver::SendCommand(platform::kNoPort, "v", 7, reply), -3);
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(Serial_driver::TraceText, "");
    Serial_driver::ResetSerialDriverState();
}

} // namespace
