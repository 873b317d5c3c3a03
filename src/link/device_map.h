#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pelvaron {

// Which device path a COM port name stands for. COM1..COM6 mean
// /dev/ttyS0../dev/ttyS5 unless mapped; any other name has a device only when
// it is mapped. Messages keep naming the COM port, never the path.
class DeviceMap {
 public:
  // The port name of a settings index: "COM" followed by index + 1, so 0..5
  // give COM1..COM6 and an index outside the table gives a name such as COM10
  // or COM0 that has no default device.
  static std::string ComName(int nComPort);

  // Takes one "COMn=PATH" (n from 1 to 256, upper or lower case "com").
  // Returns an empty text on success, else a message saying what is wrong;
  // the map is unchanged then.
  std::string Add(std::string_view option);

  // The device path of a port name; none when the name has no device.
  std::optional<std::string> DevicePath(const std::string& comName) const;

  const std::map<std::string, std::string>& Mapped() const { return mapped_; }

 private:
  std::map<std::string, std::string> mapped_;
};

}  // namespace pelvaron
