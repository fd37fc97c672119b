#include "port/posix/serial_devices.hpp"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace quorlin {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// Where a path finally leads; the path itself when it cannot be resolved.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  const fs::path target = fs::canonical(path, error);
  return error ? path : target;
}

bool IsCandidate(const std::string& name, const DeviceRoots& roots) {
  if (name.starts_with("ttyUSB") || name.starts_with("ttyACM")) return true;
  if (!name.starts_with("ttyS")) return false;
  std::error_code error;
  return fs::exists(fs::path(roots.sys) / "class/tty" / name / "device/driver", error);
}

// The folder of the USB device above the tty's interface: the first one up holding idVendor.
void ReadUsbIdentity(const std::string& name, const DeviceRoots& roots, SerialDevice& device) {
  const fs::path tty_device = fs::path(roots.sys) / "class/tty" / name / "device";
  std::error_code error;
  if (!fs::exists(tty_device, error)) return;
  const fs::path driver = fs::read_symlink(tty_device / "driver", error);
  if (!error) device.driver = driver.filename().string();
  const fs::path top = Resolved(roots.sys);
  for (fs::path folder = Resolved(tty_device); folder.has_relative_path() && folder != top;
       folder = folder.parent_path()) {
    if (!fs::exists(folder / "idVendor", error)) continue;
    device.vendor_id = FirstLine(folder / "idVendor");
    device.product_id = FirstLine(folder / "idProduct");
    device.manufacturer = FirstLine(folder / "manufacturer");
    device.product = FirstLine(folder / "product");
    return;
  }
}

std::string FindById(const fs::path& target, const DeviceRoots& roots) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fs::path(roots.dev) / "serial/by-id", error)) {
    if (Resolved(entry.path()) == target) return entry.path().filename().string();
  }
  return {};
}

void ReadAccess(const fs::path& path, SerialDevice& device) {
  device.accessible = ::access(path.c_str(), R_OK | W_OK) == 0;
  if (!device.accessible) device.group = DeviceGroup(path.string());
}

// The pseudo-terminal a /dev/ptmx descriptor is the master of, from its fdinfo ("tty-index:").
std::string MasterIndex(const fs::path& fdinfo) {
  std::ifstream in(fdinfo);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("tty-index:")) return line.substr(line.find_first_not_of(" \t", 10));
  }
  return {};
}

// A process with the device open, unless it also holds the master side of the same
// pseudo-terminal: then it is the device itself (a simulated modem, socat), not a user of it.
bool HoldsDevice(const fs::path& process, const fs::path& path, const fs::path& target) {
  bool holds = false;
  bool master = false;
  std::error_code error;
  for (const auto& fd : fs::directory_iterator(process / "fd", error)) {
    std::error_code link_error;
    const fs::path open = fs::read_symlink(fd.path(), link_error);
    if (link_error) continue;
    holds = holds || open == path || open == target;
    if (open.filename() == "ptmx" && target.parent_path().filename() == "pts") {
      master = master ||
               MasterIndex(process / "fdinfo" / fd.path().filename()) == target.filename().string();
    }
  }
  return holds && !master;
}

// The first process with the device open, from the links in /proc/<pid>/fd (only this user's
// processes are readable without privileges).
void FindHolder(const fs::path& path, const fs::path& target, const DeviceRoots& roots,
                SerialDevice& device) {
  std::error_code error;
  for (const auto& process : fs::directory_iterator(roots.proc, error)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() ||
        !std::all_of(pid.begin(), pid.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
      continue;
    if (!HoldsDevice(process.path(), path, target)) continue;
    device.holder_pid = std::atoi(pid.c_str());
    device.holder_command = FirstLine(process.path() / "comm");
    return;
  }
}

}  // namespace

SerialDevice DescribeSerialDevice(const std::string& path_text, const DeviceRoots& roots) {
  const fs::path path(path_text);
  SerialDevice device;
  device.path = path_text;
  const fs::path target = Resolved(path);
  device.by_id = FindById(target, roots);
  ReadUsbIdentity(path.filename().string(), roots, device);
  ReadAccess(path, device);
  FindHolder(path, target, roots, device);
  return device;
}

std::string HolderText(const SerialDevice& device) {
  if (device.holder_pid == 0) return {};
  const std::string pid = std::to_string(device.holder_pid);
  return device.holder_command.empty() ? pid : pid + " (" + device.holder_command + ")";
}

std::string DeviceGroup(const std::string& path) {
  struct stat status {};
  if (path.empty() || ::stat(path.c_str(), &status) != 0 || status.st_gid == 0) return {};
  const group* entry = ::getgrgid(status.st_gid);
  return entry != nullptr ? entry->gr_name : std::string{};
}

std::vector<SerialDevice> FindSerialDevices(const DeviceRoots& roots) {
  std::vector<fs::path> paths;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(roots.dev, error)) {
    if (IsCandidate(entry.path().filename().string(), roots)) paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<SerialDevice> devices;
  for (const fs::path& path : paths) devices.push_back(DescribeSerialDevice(path.string(), roots));
  return devices;
}

}  // namespace quorlin
