// The serial devices of a Linux machine, found through devfs, sysfs and procfs. The three roots
// are parameters so that tests can lay out a tree of their own.
#pragma once

#include <string>
#include <vector>

namespace quorlin {

struct DeviceRoots {
  std::string dev = "/dev";
  std::string sys = "/sys";
  std::string proc = "/proc";
};

struct SerialDevice {
  std::string path;          // under the dev root: ".../ttyUSB0"
  std::string by_id;         // the name in serial/by-id that leads to it; empty when none
  std::string vendor_id;     // USB idVendor, "12d1"; empty for a device not on USB
  std::string product_id;    // USB idProduct
  std::string manufacturer;  // USB strings, where the device gives them
  std::string product;
  std::string driver;          // the kernel driver ("option", "cdc_acm"); empty when unknown
  bool accessible = false;     // this process may open it for reading and writing
  std::string group;           // the device's group, to join when it is not accessible
  int holder_pid = 0;          // a process that has it open; 0 when none was seen
  std::string holder_command;  // that process's name, when readable
};

// One device, as FindSerialDevices describes it; its path need not be a candidate's.
SerialDevice DescribeSerialDevice(const std::string& path, const DeviceRoots& roots);

// The process holding the device, as "4242 (minicom)"; empty when none was seen.
std::string HolderText(const SerialDevice& device);

// The group that may open the device, when it is not root's; empty when it cannot be told.
std::string DeviceGroup(const std::string& path);

// ttyUSB* and ttyACM* (devices and links alike), and ttyS* with a driver bound in sysfs (most
// ttyS ports of a PC have no hardware behind them), sorted by path.
std::vector<SerialDevice> FindSerialDevices(const DeviceRoots& roots);

}  // namespace quorlin
