#include "link/device_map.h"

#include <cctype>

namespace pelvaron {

namespace {

constexpr int kDefaultPorts = 6;
constexpr int kHighestPort = 256;

// "COMn" with n in 1..256, no sign, no leading zero; the canonical upper-case
// name, or none.
std::optional<std::string> CanonicalComName(std::string_view name) {
  if (name.size() < 4 || name.size() > 6) return std::nullopt;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return std::nullopt;
  }
  std::string_view digits = name.substr(3);
  if (digits[0] == '0') return std::nullopt;
  int n = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > kHighestPort) return std::nullopt;
  return "COM" + std::string(digits);
}

}  // namespace

std::string DeviceMap::ComName(int nComPort) {
  return "COM" + std::to_string(nComPort + 1);
}

std::string DeviceMap::Add(std::string_view option) {
  const std::string quoted = "\"" + std::string(option) + "\"";
  auto eq = option.find('=');
  if (eq == std::string_view::npos) {
    return "--device " + quoted + ": expected COMn=PATH, for example COM1=/dev/ttyUSB0";
  }
  auto name = CanonicalComName(option.substr(0, eq));
  if (!name) {
    return "--device " + quoted + ": \"" + std::string(option.substr(0, eq)) +
           "\" is not a port name; use COM1 to COM" + std::to_string(kHighestPort);
  }
  std::string path(option.substr(eq + 1));
  if (path.empty()) return "--device " + quoted + ": the device path after \"=\" is missing";
  if (path.find('\0') != std::string::npos)
    return "--device " + quoted + ": the device path holds a zero byte";
  auto it = mapped_.find(*name);
  if (it != mapped_.end() && it->second != path) {
    return "--device " + quoted + ": " + *name + " is already mapped to " + it->second;
  }
  mapped_[*name] = path;
  return {};
}

std::optional<std::string> DeviceMap::DevicePath(const std::string& comName) const {
  auto it = mapped_.find(comName);
  if (it != mapped_.end()) return it->second;
  for (int i = 0; i < kDefaultPorts; ++i) {
    if (comName == ComName(i)) return "/dev/ttyS" + std::to_string(i);
  }
  return std::nullopt;
}

}  // namespace pelvaron
