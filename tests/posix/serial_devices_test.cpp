// Finding serial devices in a tree laid out as devfs, sysfs and procfs are, under a temporary
// folder: each case names the layout a real machine shows.
#include "port/posix/serial_devices.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quorlin {
namespace {

namespace fs = std::filesystem;

// A folder, a file with `text`, or a link to `text` (a path under the root).
struct Entry {
  enum Kind { kFolder, kFile, kLink } kind;
  std::string path;
  std::string text;
};

struct Expected {
  std::string name;  // under dev
  std::string by_id;
  std::string usb;  // "vid:pid manufacturer product"
  std::string driver;
  int holder_pid = 0;
  std::string holder_command;
};

struct TreeCase {
  const char* name;
  std::vector<Entry> tree;
  std::vector<Expected> expected;
};

const std::vector<Entry> kHuaweiStick = {
    {Entry::kFolder, "sys/devices/usb1/1-1/1-1:1.0/ttyUSB0", ""},
    {Entry::kFile, "sys/devices/usb1/1-1/idVendor", "12d1\n"},
    {Entry::kFile, "sys/devices/usb1/1-1/idProduct", "1436\n"},
    {Entry::kFile, "sys/devices/usb1/1-1/manufacturer", "HUAWEI\n"},
    {Entry::kFile, "sys/devices/usb1/1-1/product", "HUAWEI Mobile\n"},
    {Entry::kFolder, "sys/bus/usb-serial/drivers/option1", ""},
    {Entry::kLink, "sys/devices/usb1/1-1/1-1:1.0/ttyUSB0/driver",
     "sys/bus/usb-serial/drivers/option1"},
    {Entry::kFolder, "sys/class/tty/ttyUSB0", ""},
    {Entry::kLink, "sys/class/tty/ttyUSB0/device", "sys/devices/usb1/1-1/1-1:1.0/ttyUSB0"},
    {Entry::kFile, "dev/ttyUSB0", ""},
    {Entry::kFolder, "dev/serial/by-id", ""},
    {Entry::kLink, "dev/serial/by-id/usb-HUAWEI_HUAWEI_Mobile-if00-port0", "dev/ttyUSB0"},
};

std::vector<Entry> With(std::vector<Entry> tree, const std::vector<Entry>& more) {
  tree.insert(tree.end(), more.begin(), more.end());
  return tree;
}

const Expected kHuaweiExpected = {"ttyUSB0",
                                  "usb-HUAWEI_HUAWEI_Mobile-if00-port0",
                                  "12d1:1436 HUAWEI HUAWEI Mobile",
                                  "option1",
                                  0,
                                  ""};

class SerialDevices : public ::testing::TestWithParam<TreeCase> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorlin-devices-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const Entry& entry : GetParam().tree) Make(entry);
  }
  void TearDown() override { fs::remove_all(root_); }

  void Make(const Entry& entry) const {
    const fs::path path = root_ / entry.path;
    fs::create_directories(entry.kind == Entry::kFolder ? path : path.parent_path());
    if (entry.kind == Entry::kFile) std::ofstream(path) << entry.text;
    if (entry.kind == Entry::kLink) fs::create_symlink(root_ / entry.text, path);
  }

  fs::path root_;
};

TEST_P(SerialDevices, EachDeviceWithWhatTheTreeSaysOfIt) {
  const DeviceRoots roots{(root_ / "dev").string(), (root_ / "sys").string(),
                          (root_ / "proc").string()};
  const std::vector<SerialDevice> found = FindSerialDevices(roots);
  ASSERT_EQ(found.size(), GetParam().expected.size());
  for (std::size_t at = 0; at < found.size(); ++at) {
    const SerialDevice& device = found[at];
    const Expected& expected = GetParam().expected[at];
    EXPECT_EQ(device.path, (root_ / "dev" / expected.name).string());
    EXPECT_EQ(device.by_id, expected.by_id);
    const std::string usb = device.vendor_id.empty()
                                ? ""
                                : device.vendor_id + ":" + device.product_id + " " +
                                      device.manufacturer + " " + device.product;
    EXPECT_EQ(usb, expected.usb);
    EXPECT_EQ(device.driver, expected.driver);
    EXPECT_TRUE(device.accessible);
    EXPECT_EQ(device.holder_pid, expected.holder_pid);
    EXPECT_EQ(device.holder_command, expected.holder_command);
  }
}

INSTANTIATE_TEST_SUITE_P(
    FakeTree, SerialDevices,
    ::testing::Values(
        TreeCase{"NoDevices", {{Entry::kFile, "dev/null", ""}, {Entry::kFile, "dev/tty0", ""}}, {}},
        TreeCase{"UsbStickWithByIdName", kHuaweiStick, {kHuaweiExpected}},
        TreeCase{"LinkToAPseudoTerminal",
                 {{Entry::kFile, "dev/pts/5", ""}, {Entry::kLink, "dev/ttyACM3", "dev/pts/5"}},
                 {{"ttyACM3", "", "", "", 0, ""}}},
        TreeCase{"SerialPortsWithoutDriverLeftOut",
                 {{Entry::kFile, "dev/ttyS0", ""},
                  {Entry::kFile, "dev/ttyS1", ""},
                  {Entry::kFolder, "sys/devices/serial8250/ttyS1", ""},
                  {Entry::kFolder, "sys/devices/pnp0/00:05/tty/ttyS0", ""},
                  {Entry::kFolder, "sys/bus/pnp/drivers/serial", ""},
                  {Entry::kLink, "sys/devices/pnp0/00:05/driver", "sys/bus/pnp/drivers/serial"},
                  {Entry::kFolder, "sys/class/tty/ttyS0", ""},
                  {Entry::kLink, "sys/class/tty/ttyS0/device", "sys/devices/pnp0/00:05"},
                  {Entry::kFolder, "sys/class/tty/ttyS1", ""},
                  {Entry::kLink, "sys/class/tty/ttyS1/device", "sys/devices/serial8250/ttyS1"}},
                 {{"ttyS0", "", "", "serial", 0, ""}}},
        TreeCase{
            "HeldByAProcess",
            With(kHuaweiStick, {{Entry::kFile, "proc/self/comm", "quorlin\n"},
                                {Entry::kFile, "proc/4242/comm", "minicom\n"},
                                {Entry::kFile, "proc/4242/fd/0", ""},
                                {Entry::kLink, "proc/4242/fd/3", "dev/ttyUSB0"}}),
            {{"ttyUSB0", kHuaweiExpected.by_id, kHuaweiExpected.usb, "option1", 4242, "minicom"}}},
        TreeCase{"PseudoTerminalMasterSideIsTheDeviceNotAHolder",
                 {{Entry::kFile, "dev/ptmx", ""},
                  {Entry::kFile, "dev/pts/5", ""},
                  {Entry::kLink, "dev/ttyUSB7", "dev/pts/5"},
                  {Entry::kLink, "proc/9/fd/3", "dev/pts/5"},
                  {Entry::kLink, "proc/9/fd/4", "dev/ptmx"},
                  {Entry::kFile, "proc/9/fdinfo/4", "pos:\t0\ntty-index:\t5\n"}},
                 {{"ttyUSB7", "", "", "", 0, ""}}},
        TreeCase{"HeldAndNamedByALinkOfOtherName",
                 {{Entry::kFile, "dev/ttyACM0", ""},
                  {Entry::kLink, "dev/modem", "dev/ttyACM0"},
                  {Entry::kLink, "proc/17/fd/5", "dev/ttyACM0"}},
                 {{"ttyACM0", "", "", "", 17, ""}}}),
    [](const auto& test) { return std::string(test.param.name); });

// The group to join is the device's own; checked only where access is really refused (root may
// open anything).
TEST(SerialDevicesAccess, DeviceClosedToThisUserNamesItsGroup) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may open any device";
  char pattern[] = "/tmp/quorlin-devices-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  fs::create_directories(root / "dev");
  std::ofstream(root / "dev/ttyUSB1") << "";
  fs::permissions(root / "dev/ttyUSB1", fs::perms::none);
  const auto found = FindSerialDevices({(root / "dev").string(), "/nonexistent", "/nonexistent"});
  fs::remove_all(root);
  ASSERT_EQ(found.size(), 1U);
  EXPECT_FALSE(found[0].accessible);
  EXPECT_FALSE(found[0].group.empty());
}

}  // namespace
}  // namespace quorlin
