// quorlin ports on Linux: the serial devices, what is behind each, and whether it can be opened.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "commands.hpp"
#include "port/modem_probe.hpp"
#include "port/platform.hpp"
#include "port/posix/posix_serial_port.hpp"
#include "port/posix/serial_devices.hpp"

namespace quorlin::cli {
namespace {

constexpr const char* kHelp =
    "usage: quorlin ports [--probe] [--json]\n"
    "\n"
    "Lists the serial devices (/dev/ttyUSB*, /dev/ttyACM*, and /dev/ttyS* with a driver behind\n"
    "them), one a line: the device, its /dev/serial/by-id name, the USB vendor and product ids\n"
    "and names, the kernel driver, and whether it is free, held by a process (its pid and name)\n"
    "or closed to this user (and the group to join).\n"
    "\n"
    "options:\n"
    "  --probe  also try each free device for a modem: AT at 115200, 9600 and 19200 baud, and\n"
    "           for one that answers its maker and model (AT+CGMI, AT+CGMM); the line's\n"
    "           settings are put back afterwards\n"
    "  --json   JSON Lines: one object a device\n"
    "  --dev DIR\n"
    "           look for the devices in DIR instead of /dev (for tests)\n";

struct Probed {
  unsigned speed = 0;
  ModemIdentity identity;
};

struct PortsOptions {
  bool probe = false;
  bool json = false;
  DeviceRoots roots;
};

// Tries the speeds in turn; nothing when none gets an answer or the device cannot be opened.
std::optional<Probed> Probe(const std::string& path) {
  PosixPortSystem ports;
  Clock& clock = SystemPlatform().clock;
  for (const unsigned speed : {115200U, 9600U, 19200U}) {
    const auto port = ports.OpenToProbe(FromUtf8(path), FromUtf8(std::to_string(speed) + ",n,8,1"));
    if (!port) return std::nullopt;
    if (auto identity = ProbeModem(*port, clock, std::chrono::milliseconds(700))) {
      return Probed{speed, *identity};
    }
  }
  return std::nullopt;
}

std::string Availability(const SerialDevice& device) {
  if (device.holder_pid != 0) return "held by " + HolderText(device);
  if (!device.accessible) {
    return device.group.empty() ? "no permission" : "no permission: join group " + device.group;
  }
  return "free";
}

std::string TextLine(const SerialDevice& device, const std::optional<Probed>& probed) {
  std::string line = device.path;
  const auto add = [&line](const std::string& field) {
    if (!field.empty()) line += "  " + field;
  };
  add(device.by_id);
  if (!device.vendor_id.empty()) {
    std::string usb = device.vendor_id + ":" + device.product_id;
    for (const std::string* name : {&device.manufacturer, &device.product}) {
      if (!name->empty()) usb += " " + *name;
    }
    add(usb);
  }
  if (!device.driver.empty()) add("driver " + device.driver);
  add(Availability(device));
  if (probed) {
    add("modem at " + std::to_string(probed->speed) + ": " + probed->identity.maker + " " +
        probed->identity.model);
  }
  return line;
}

nlohmann::json JsonLine(const SerialDevice& device, const std::optional<Probed>& probed) {
  nlohmann::json line = {{"path", device.path},
                         {"by_id", device.by_id},
                         {"vendor_id", device.vendor_id},
                         {"product_id", device.product_id},
                         {"manufacturer", device.manufacturer},
                         {"product", device.product},
                         {"driver", device.driver},
                         {"accessible", device.accessible},
                         {"group", device.group},
                         {"status", Availability(device)}};
  if (device.holder_pid != 0) {
    line["holder"] = {{"pid", device.holder_pid}, {"command", device.holder_command}};
  }
  if (probed) {
    line["modem"] = {{"speed", probed->speed},
                     {"maker", probed->identity.maker},
                     {"model", probed->identity.model}};
  }
  return line;
}

// Null after printing why, for arguments that are not ports' options.
std::optional<PortsOptions> ParseOptions(std::span<const std::string_view> args) {
  PortsOptions options;
  for (std::size_t at = 0; at < args.size(); ++at) {
    if (args[at] == "--probe") {
      options.probe = true;
    } else if (args[at] == "--json") {
      options.json = true;
    } else if (args[at] == "--dev" && at + 1 < args.size()) {
      options.roots.dev = std::string(args[++at]);
    } else {
      std::fprintf(stderr, "quorlin ports: unknown option '%.*s'\n\n%s",
                   static_cast<int>(args[at].size()), args[at].data(), kHelp);
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace

int RunPorts(std::span<const std::string_view> args) {
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  const auto options = ParseOptions(args);
  if (!options) return 2;
  const std::vector<SerialDevice> devices = FindSerialDevices(options->roots);
  if (devices.empty() && !options->json) std::puts("no serial ports found");
  for (const SerialDevice& device : devices) {
    const bool free = device.holder_pid == 0 && device.accessible;
    const auto probed = options->probe && free ? Probe(device.path) : std::nullopt;
    const std::string line =
        options->json ? JsonLine(device, probed).dump() : TextLine(device, probed);
    std::puts(line.c_str());
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace quorlin::cli
