// USB-serial adapters as sysfs describes them, on a fake tree: their identity for the port list,
// the latency timer, a device that went away, the registry's system devices under a sysfs root
// of its own, and low-latency mode asked for on open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/AdapterInfo.h"
#include "platform/ComRegistry.h"
#include "platform/Pty.h"
#include "platform/SerialDevice.h"

namespace fs = std::filesystem;

namespace {

// A sysfs and /dev of our own, laid out as the kernel lays them out:
//   ttyUSB0: a USB-serial port (driver ftdi_sio) with a latency timer of 16 ms and a by-id link
//   ttyACM0: a USB modem-class port (driver cdc_acm), no latency timer
//   ttyS0:   an on-board UART (driver serial8250); ttyS1: a slot without a UART
//   ttyUSB1: unplugged while its class entry still points at it
// Every folder is readable by everybody, so a process without privileges can read it too.
class TFakeTree {
 public:
  TFakeTree() {
    char pattern[] = "/tmp/zv8810-adapters-XXXXXX";
    root_ = mkdtemp(pattern);
    chmod(root_.c_str(), 0755);
    const fs::path usb = "devices/pci0000:00/0000:00:14.0/usb1";
    Dir(usb / "1-2/1-2:1.0/ttyUSB0");
    UsbDevice(usb / "1-2", "1a2b", "6001", "Example Ltd", "Serial Adapter", "A1B2C3");
    File(usb / "1-2/1-2:1.0/ttyUSB0/latency_timer", "16\n");
    Driver(usb / "1-2/1-2:1.0/ttyUSB0", "bus/usb-serial/drivers/ftdi_sio");
    ClassLink("ttyUSB0", usb / "1-2/1-2:1.0/ttyUSB0");
    fs::create_directories(Dev() / "serial/by-id");
    fs::create_symlink("../../ttyUSB0",
                       Dev() / "serial/by-id/usb-Example_Serial_Adapter_A1B2C3-if00-port0");
    std::ofstream(Dev() / "ttyUSB0").put('\0');  // stands for the device node

    Dir(usb / "1-3/1-3:1.0");
    UsbDevice(usb / "1-3", "2c3d", "0042", "Example Ltd", "", "");
    Driver(usb / "1-3/1-3:1.0", "bus/usb/drivers/cdc_acm");
    ClassLink("ttyACM0", usb / "1-3/1-3:1.0");

    Dir("devices/platform/serial8250");
    Driver("devices/platform/serial8250", "bus/platform/drivers/serial8250");
    ClassLink("ttyS0", "devices/platform/serial8250");
    File("class/tty/ttyS0/type", "4\n");
    ClassLink("ttyS1", "devices/platform/serial8250");
    File("class/tty/ttyS1/type", "0\n");

    ClassLink("ttyUSB1", usb / "1-4/1-4:1.0/ttyUSB1");  // gone: the link leads nowhere
    Dir("class/tty/tty0");                              // a console: no device behind it
  }
  ~TFakeTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path Sys() const { return root_ / "sys"; }
  fs::path Dev() const { return root_ / "dev"; }
  plat::TSystemRoots Roots() const { return {Sys().string(), Dev().string()}; }
  fs::path Attribute(const std::string& tty, const std::string& name) const {
    return Sys() / "class/tty" / tty / "device" / name;
  }

 private:
  void Dir(const fs::path& relative) { fs::create_directories(Sys() / relative); }
  void File(const fs::path& relative, const std::string& text) {
    fs::create_directories((Sys() / relative).parent_path());
    std::ofstream(Sys() / relative) << text;
  }
  void UsbDevice(const fs::path& dir, const char* vendor, const char* product,
                 const char* manufacturer, const char* name, const char* serial) {
    File(dir / "idVendor", std::string(vendor) + "\n");
    File(dir / "idProduct", std::string(product) + "\n");
    File(dir / "manufacturer", std::string(manufacturer) + "\n");
    if (*name) File(dir / "product", std::string(name) + "\n");
    if (*serial) File(dir / "serial", std::string(serial) + "\n");
  }
  void Driver(const fs::path& dir, const fs::path& driver) {
    fs::create_directories(Sys() / driver);
    fs::create_symlink(Sys() / driver, Sys() / dir / "driver");
  }
  void ClassLink(const std::string& tty, const fs::path& device) {
    fs::create_directories(Sys() / "class/tty" / tty);
    fs::create_symlink(Sys() / device, Sys() / "class/tty" / tty / "device");
  }

  fs::path root_;
};

}  // namespace

TEST(AdapterInfo, IdentityDriverAndLatencyTimerFromSysfs) {
  TFakeTree tree;
  // A COM alias leads to the device it names.
  fs::create_symlink(tree.Dev() / "ttyUSB0", tree.Dev() / "COM17");
  struct {
    std::string device;
    bool present, usb;
    std::string byId, vendor, product, manufacturer, name, serial, driver;
    int latency;
  } cases[] = {
      {"/dev/ttyUSB0", true, true,
       (tree.Dev() / "serial/by-id/usb-Example_Serial_Adapter_A1B2C3-if00-port0").string(), "1a2b",
       "6001", "Example Ltd", "Serial Adapter", "A1B2C3", "ftdi_sio", 16},
      {(tree.Dev() / "COM17").string(), true, true,
       (tree.Dev() / "serial/by-id/usb-Example_Serial_Adapter_A1B2C3-if00-port0").string(), "1a2b",
       "6001", "Example Ltd", "Serial Adapter", "A1B2C3", "ftdi_sio", 16},
      {"/dev/ttyACM0", true, true, "", "2c3d", "0042", "Example Ltd", "", "", "cdc_acm", -1},
      {"/dev/ttyS0", true, false, "", "", "", "", "", "", "serial8250", -1},
      {"/dev/ttyUSB1", false, false, "", "", "", "", "", "", "", -1},
      {"/dev/ttyUSB9", false, false, "", "", "", "", "", "", "", -1},
  };
  for (const auto& c : cases) {
    plat::TAdapterInfo info = plat::ReadAdapterInfo(c.device, tree.Roots());
    SCOPED_TRACE(c.device);
    EXPECT_EQ(info.Present, c.present);
    EXPECT_EQ(info.Usb, c.usb);
    EXPECT_EQ(info.ById, c.byId);
    EXPECT_EQ(info.VendorId, c.vendor);
    EXPECT_EQ(info.ProductId, c.product);
    EXPECT_EQ(info.Manufacturer, c.manufacturer);
    EXPECT_EQ(info.Product, c.name);
    EXPECT_EQ(info.Serial, c.serial);
    EXPECT_EQ(info.Driver, c.driver);
    EXPECT_EQ(info.LatencyTimerMs, c.latency);
  }
  // An attribute that is not a number counts as no timer.
  std::ofstream(tree.Attribute("ttyUSB0", "latency_timer")) << "fast\n";
  EXPECT_EQ(plat::ReadLatencyTimer("ttyUSB0", tree.Roots()), -1);
  EXPECT_EQ(plat::ReadLatencyTimer("../ttyUSB0", tree.Roots()), -1);
}

TEST(ComRegistry, SystemDevicesComeFromTheSysfsRoot) {
  TFakeTree tree;
  const std::string before = plat::SysfsRoot();
  plat::SetSysfsRoot(tree.Sys().string());
  std::vector<plat::TPortEntry> entries = plat::ListPortEntries();
  plat::SetSysfsRoot(before);
  std::vector<std::pair<int, std::string>> got;
  for (const auto& e : entries) got.emplace_back(e.Number, e.Device);
  // ttyS1 has no UART, ttyUSB1 went away, tty0 is no serial port.
  std::vector<std::pair<int, std::string>> expected = {
      {1, "/dev/ttyS0"}, {17, "/dev/ttyUSB0"}, {49, "/dev/ttyACM0"}};
  EXPECT_EQ(got, expected);
}

TEST(LowLatency, PseudoTerminalIsLeftAloneAndATimerAbove1IsSetWhereAllowed) {
  TFakeTree tree;
  plat::TPty pty;
  ASSERT_TRUE(pty.Open());
  {
    plat::TSerialDevice device;
    ASSERT_TRUE(device.Open(pty.DevicePath()));  // opening never depends on the mode
  }
  const int fd = ::open(pty.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);

  // A pseudo-terminal takes no low-latency mode and has no timer.
  plat::TLowLatencyReport report = plat::RequestLowLatency(fd, pty.DevicePath());
  EXPECT_FALSE(report.LowLatencyMode);
  EXPECT_EQ(report.LatencyTimerMs, -1);

  // The device is found by the name its path resolves to; a timer that may be written is set.
  const std::string adapter = (tree.Dev() / "ttyUSB0").string();
  report = plat::RequestLowLatency(fd, adapter, tree.Roots());
  EXPECT_EQ(report.TtyName, "ttyUSB0");
  EXPECT_EQ(report.LatencyTimerMs, 1);

  // Without the right to write it, the timer stays and the report says so (the advice's cue).
  std::ofstream(tree.Attribute("ttyUSB0", "latency_timer")) << "16\n";
  chmod(tree.Attribute("ttyUSB0", "latency_timer").c_str(), 0444);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && setuid(65534) != 0) _exit(200);  // root writes anything: drop it
    _exit(plat::RequestLowLatency(fd, adapter, tree.Roots()).LatencyTimerMs);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ::close(fd);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 16);
}

TEST(LowLatency, OpenTellsTheObserverAboutAdaptersWithATimer) {
  TFakeTree tree;
  const std::string before = plat::SysfsRoot();
  std::vector<plat::TLowLatencyReport> reports;
  plat::SetLowLatencyObserver([&](const plat::TLowLatencyReport& r) { reports.push_back(r); });
  plat::TPty pty;
  ASSERT_TRUE(pty.Open());
  plat::SetSysfsRoot(tree.Sys().string());
  {
    plat::TSerialDevice device;
    EXPECT_TRUE(device.Open(pty.DevicePath()));  // no timer: nothing to tell
  }
  // Pretend the pseudo-terminal is the adapter: the fake tree gives its name a timer.
  const std::string name = fs::path(pty.DevicePath()).filename().string();
  fs::create_directories(tree.Sys() / "class/tty" / name);
  fs::create_symlink(tree.Sys() / "class/tty/ttyUSB0/device",
                     tree.Sys() / "class/tty" / name / "device");
  {
    plat::TSerialDevice device;
    EXPECT_TRUE(device.Open(pty.DevicePath()));
  }
  plat::SetSysfsRoot(before);
  plat::SetLowLatencyObserver(nullptr);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Device, pty.DevicePath());
  EXPECT_EQ(reports[0].LatencyTimerMs, geteuid() == 0 ? 1 : 16);
}
