// Which serial devices a port search tries on Linux, and in which order.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix_ports.h"
#include "tests/support/device_tree.h"

namespace {

using platform::posix::ListSearchDevices;

std::vector<std::string> Names(const DeviceTree &tree, std::vector<std::string> names) {
  for (std::string &n : names) n = tree.Dev(n);
  return names;
}

// A machine with a console on ttyS0, UARTs on ttyS2 and ttyS10, ttyS1
// without hardware, and USB adapters listed out of order.
void AddMachine(DeviceTree &tree) {
  tree.AddTty("tty0");
  tree.AddTty("ttyS0", 4);
  tree.AddTty("ttyS1", 0);
  tree.AddTty("ttyS10", 4);
  tree.AddTty("ttyS2", 4);
  tree.AddTty("ttyUSB10");
  tree.AddTty("ttyUSB2");
  tree.AddTty("ttyACM0");
  tree.AddTty("ttyUSB3", -1, "", false);  // no /dev node: gone or not made
  tree.AddTty("ttyUSBx");
  tree.AddTty("ptmx");
}

TEST(PortListTest, UsbFirstThenUartsNeverTheConsole) {
  DeviceTree tree;
  AddMachine(tree);
  tree.SetConsoles("tty0 ttyS0");
  EXPECT_EQ(ListSearchDevices(tree.Root(), 20),
            Names(tree, {"ttyACM0", "ttyUSB2", "ttyUSB10", "ttyS2", "ttyS10"}));
  EXPECT_EQ(ListSearchDevices(tree.Root(), 2), Names(tree, {"ttyACM0", "ttyUSB2"}));
  EXPECT_TRUE(ListSearchDevices(tree.Root(), 0).empty());
}

TEST(PortListTest, ConsoleOnAnyDeviceIsLeftOut) {
  DeviceTree tree;
  AddMachine(tree);
  tree.SetConsoles("ttyUSB2 ttyS10");
  EXPECT_EQ(ListSearchDevices(tree.Root(), 20),
            Names(tree, {"ttyACM0", "ttyUSB10", "ttyS0", "ttyS2"}));
}

TEST(PortListTest, UnknownConsoleLeavesOutEveryUart) {
  DeviceTree tree;
  AddMachine(tree);  // no console/active to read
  EXPECT_EQ(ListSearchDevices(tree.Root(), 20), Names(tree, {"ttyACM0", "ttyUSB2", "ttyUSB10"}));
}

TEST(PortListTest, NothingUsable) {
  DeviceTree tree;
  tree.SetConsoles("ttyS0");
  tree.AddTty("ttyS0", 4);  // a virtual machine whose only port is its console
  tree.AddTty("ttyS1", 0);
  EXPECT_TRUE(ListSearchDevices(tree.Root(), 20).empty());
  EXPECT_TRUE(ListSearchDevices(tree.Root() + "/missing", 20).empty());
}

}  // namespace
