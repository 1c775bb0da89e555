#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"
#include "report/SystemInfo.h"
#include "support/TestUtil.h"

namespace veltrano {
namespace {

const char kUnknown[] = "unknown OperatingSystem.";

TEST(WindowsEditionName, NamesEveryRowOfTheTable) {
    struct Row {
        unsigned major, minor, platformId, productType, arch;
        bool r2;
        const char* name;
    };
    const Row rows[] = {
        {4, 0, 2, 1, 0, false, "Microsoft Windows NT 4.0"},
        {4, 0, 1, 1, 0, false, "Microsoft Windows 95"},
        {4, 10, 1, 1, 0, false, "Microsoft Windows 98"},
        {4, 90, 1, 1, 0, false, "Microsoft Windows Me"},
        {5, 0, 2, 3, 0, false, "Microsoft Windows 2000"},
        {5, 1, 2, 1, 0, false, "Microsoft Windows XP"},
        {5, 2, 2, 1, 9, false, "Microsoft Windows XP Professional x64 Edition"},
        {5, 2, 2, 1, 0, false, "Microsoft Windows Server 2003"},
        {5, 2, 2, 3, 9, false, "Microsoft Windows Server 2003"},
        {5, 2, 2, 3, 9, true, "Microsoft Windows Server 2003 R2"},
        {6, 0, 2, 1, 0, false, "Microsoft Windows Vista"},
        {6, 0, 2, 3, 0, false, "Microsoft Windows Server 2008"},
        {6, 1, 2, 1, 0, false, "Microsoft Windows 7"},
        {6, 1, 2, 2, 9, false, "Microsoft Windows Server 2008 R2"},
        {6, 2, 2, 1, 9, false, "Microsoft Windows 8"},
        {6, 2, 2, 3, 9, false, "Microsoft Windows Server 2012"},
        {6, 3, 2, 1, 9, false, "Microsoft Windows 8.1"},
        {6, 3, 2, 3, 9, false, "Microsoft Windows Server 2012 R2"},
        {10, 0, 2, 1, 9, false, "Microsoft Windows 10"},
        {10, 0, 2, 3, 9, false, "Microsoft Windows Server 2016 Technical Preview"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(windowsEditionName(r.major, r.minor, r.platformId, r.productType, r.arch, r.r2), r.name)
            << r.major << "." << r.minor << " type " << r.productType;
}

TEST(WindowsEditionName, UnlistedVersionsKeepTheFallback) {
    const unsigned unknown[][2] = {{4, 1}, {5, 3}, {6, 4}, {7, 0}, {8, 0}, {9, 0}, {10, 1}, {11, 0}, {3, 51}};
    for (const auto& v : unknown) {
        EXPECT_EQ(windowsEditionName(v[0], v[1], 2, 1, 9, false), kUnknown) << v[0] << "." << v[1];
        EXPECT_EQ(windowsEditionName(v[0], v[1], 2, 3, 9, true), kUnknown) << v[0] << "." << v[1];
    }
    EXPECT_EQ(windowsEditionName(4, 0, 0, 1, 0, false), kUnknown);
    EXPECT_EQ(windowsEditionName(4, 0, 3, 1, 0, false), kUnknown);
}

TEST(SystemVersion, TakesMajorAndMinorOfTheRelease) {
    EXPECT_EQ(systemVersionFromRelease("6.1.0-13-amd64"), "6.1");
    EXPECT_EQ(systemVersionFromRelease("5.15.90.1-microsoft-standard-WSL2"), "5.15");
    EXPECT_EQ(systemVersionFromRelease("10.0"), "10.0");
    EXPECT_EQ(systemVersionFromRelease("06.01"), "6.1");
    for (const char* bad : {"", "6", "6.", ".1", "x6.1", "6.x", "99999999999.1"})
        EXPECT_EQ(systemVersionFromRelease(bad), "unknown") << bad;
    const std::string live = getSystemVersion();
    EXPECT_NE(live, "unknown");
    EXPECT_NE(live.find('.'), std::string::npos);
}

#ifdef _WIN32
TEST(SystemFactsFromFiles, AdaptersAndReleaseFile) {
    GTEST_SKIP() << "tested on Linux only: Windows asks GetAdaptersInfo and the version call, not files";
}
#else
class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = test::makeTempFolder("veltrano-sysinfo-");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { test::removeTree(dir_); }
    void write(const std::string& rel, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(dir_ + "/" + rel).parent_path());
        std::ofstream(dir_ + "/" + rel) << text;
    }
    // One interface folder as the kernel shows it.
    void adapter(const std::string& name, int index, int type, const std::string& address, bool device,
                 bool wireless) {
        write(name + "/ifindex", std::to_string(index) + "\n");
        write(name + "/type", std::to_string(type) + "\n");
        write(name + "/address", address + "\n");
        if (device)
            std::filesystem::create_directory_symlink("/nonexistent/pci0000:00",
                                                      dir_ + "/" + name + "/device");
        if (wireless) std::filesystem::create_directories(dir_ + "/" + name + "/wireless");
    }
    std::string dir_;
};

using NetworkAdapters = TempDir;

TEST_F(NetworkAdapters, FirstWiredHardwareAdapterInIndexOrderWins) {
    adapter("lo", 1, 772, "00:00:00:00:00:00", false, false);
    adapter("wlan0", 2, 1, "aa:bb:cc:dd:ee:ff", true, true);
    adapter("docker0", 3, 1, "02:42:ac:11:00:01", false, false);
    adapter("zeth1", 4, 1, "00:1a:2b:3c:4d:5e", true, false);
    adapter("aeth2", 7, 1, "11:22:33:44:55:66", true, false);
    adapter("ib0", 5, 32, "80:00:00:48:fe:80:00:00:00:00:00:00:00:00:00:00:00:00:00:01", true, false);
    write("broken/type", "1\n");  // no ifindex: not an interface

    const std::vector<NetworkAdapter> list = listNetworkAdapters(dir_);
    ASSERT_EQ(list.size(), 6u);
    std::vector<std::string> names;
    for (const NetworkAdapter& a : list) names.push_back(a.name);
    EXPECT_EQ(names, (std::vector<std::string>{"lo", "wlan0", "docker0", "zeth1", "ib0", "aeth2"}));
    EXPECT_TRUE(list[1].wireless);
    EXPECT_TRUE(list[1].hasDevice);
    EXPECT_FALSE(list[2].hasDevice);
    EXPECT_EQ(list[4].address.size(), 20u);
    EXPECT_EQ(list[3].address, (std::vector<unsigned char>{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}));

    std::string id = "untouched";
    ASSERT_TRUE(machineIdFromAdapters(list, id));
    EXPECT_EQ(id, "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(reportMachineId(list), "00-1A-2B-3C-4D-5E");
}

TEST_F(NetworkAdapters, NoQualifyingAdapterGivesTheFallback) {
    adapter("lo", 1, 772, "00:00:00:00:00:00", false, false);
    adapter("wlan0", 2, 1, "aa:bb:cc:dd:ee:ff", true, true);
    adapter("veth0", 3, 1, "02:42:ac:11:00:01", false, false);
    adapter("odd0", 4, 1, "not-an-address", true, false);
    const std::vector<NetworkAdapter> list = listNetworkAdapters(dir_);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_TRUE(list[3].address.empty());
    std::string id = "untouched";
    EXPECT_FALSE(machineIdFromAdapters(list, id));
    EXPECT_EQ(id, "untouched");
    EXPECT_EQ(reportMachineId(list), "00:00:00:00");
    EXPECT_EQ(reportMachineId(listNetworkAdapters(dir_ + "/missing")), "00:00:00:00");
}

using OsRelease = TempDir;

TEST_F(OsRelease, ReadsQuotedValuesAndFallsBack) {
    write("os-release",
          "# comment\n"
          "NAME=\"Debian GNU/Linux\"\r\n"
          "PRETTY_NAME=\"Debian GNU/Linux 12 (\\\"bookworm\\\")\"\n"
          "\n"
          "ID=debian\n"
          "VERSION_CODENAME='book worm'\n"
          "BROKEN LINE\n");
    const auto values = readOsRelease(dir_ + "/os-release");
    EXPECT_EQ(values.at("NAME"), "Debian GNU/Linux");
    EXPECT_EQ(values.at("PRETTY_NAME"), "Debian GNU/Linux 12 (\"bookworm\")");
    EXPECT_EQ(values.at("VERSION_CODENAME"), "book worm");
    EXPECT_EQ(values.count("BROKEN LINE"), 0u);
    EXPECT_EQ(systemNameFromOsRelease(values), "Debian GNU/Linux 12 (\"bookworm\")");
    EXPECT_EQ(systemBrandFromOsRelease(values), "debian");

    const auto none = readOsRelease(dir_ + "/missing");
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(systemNameFromOsRelease(none), kUnknown);
    EXPECT_EQ(systemBrandFromOsRelease(none), "linux");
    EXPECT_EQ(systemNameFromOsRelease({{"PRETTY_NAME", ""}}), kUnknown);
}

#endif

}  // namespace
}  // namespace veltrano
