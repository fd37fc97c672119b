#include "port_holder.hpp"

#include "port/port_name.hpp"
#include "port/posix/serial_devices.hpp"

namespace quorlin::cli {

std::string OtherHolder(const std::string& device) {
  const auto path = PosixDevicePath(FromUtf8(device));
  if (!path) return {};
  return HolderText(DescribeSerialDevice(*path, DeviceRoots{}));
}

}  // namespace quorlin::cli
