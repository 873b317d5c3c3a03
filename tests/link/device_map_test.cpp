#include "link/device_map.h"

#include <gtest/gtest.h>

namespace pelvaron {
namespace {

TEST(DeviceMapTest, DefaultPortsAndNames) {
  DeviceMap map;
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(DeviceMap::ComName(i), "COM" + std::to_string(i + 1));
    EXPECT_EQ(map.DevicePath(DeviceMap::ComName(i)), "/dev/ttyS" + std::to_string(i));
  }
  EXPECT_EQ(DeviceMap::ComName(9), "COM10");
  EXPECT_EQ(DeviceMap::ComName(-1), "COM0");
  EXPECT_EQ(DeviceMap::ComName(-128), "COM-127");
  for (const char* name : {"COM0", "COM7", "COM10", "COM-127", "com1", ""}) {
    EXPECT_EQ(map.DevicePath(name), std::nullopt) << name;
  }
}

TEST(DeviceMapTest, MappingOverridesAndAddsPorts) {
  DeviceMap map;
  EXPECT_EQ(map.Add("COM1=/dev/ttyUSB0"), "");
  EXPECT_EQ(map.Add("com12=/tmp/a b=c"), "");
  EXPECT_EQ(map.Add("COM1=/dev/ttyUSB0"), "") << "the same mapping again is harmless";
  EXPECT_EQ(map.DevicePath("COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(map.DevicePath("COM2"), "/dev/ttyS1");
  EXPECT_EQ(map.DevicePath("COM12"), "/tmp/a b=c");
}

TEST(DeviceMapTest, BadOptionsSayWhatIsWrongAndChangeNothing) {
  struct Case {
    const char* option;
    const char* says;
  };
  for (const Case& c :
       {Case{"COM1", "expected COMn=PATH"}, Case{"", "expected COMn=PATH"},
        Case{"=/dev/x", "is not a port name"}, Case{"COM=/dev/x", "is not a port name"},
        Case{"COM0=/dev/x", "is not a port name"}, Case{"COM01=/dev/x", "is not a port name"},
        Case{"COM257=/dev/x", "is not a port name"}, Case{"COM1x=/dev/x", "is not a port name"},
        Case{"COM-1=/dev/x", "is not a port name"}, Case{"LPT1=/dev/x", "is not a port name"},
        Case{"COM1=", "device path after \"=\" is missing"}}) {
    DeviceMap map;
    std::string error = map.Add(c.option);
    EXPECT_NE(error.find(c.says), std::string::npos) << c.option << " -> " << error;
    EXPECT_NE(error.find(std::string("\"") + c.option + "\""), std::string::npos) << error;
    EXPECT_TRUE(map.Mapped().empty());
  }
  DeviceMap map;
  ASSERT_EQ(map.Add("COM2=/dev/a"), "");
  std::string error = map.Add("COM2=/dev/b");
  EXPECT_NE(error.find("COM2 is already mapped to /dev/a"), std::string::npos) << error;
  EXPECT_EQ(map.DevicePath("COM2"), "/dev/a");
}

}  // namespace
}  // namespace pelvaron
