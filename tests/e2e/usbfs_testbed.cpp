#include "tests/e2e/usbfs_testbed.h"

#include <cstdio>
#include <stdexcept>

#include "sim/usb_descriptors.h"

namespace torva::e2e {
namespace {

constexpr int kBus = 1;
constexpr int kFirstDevice = 2;  // 1 is the root hub
constexpr int kFirstPort = 1;

UsbDeviceFacts FactsOf(const sim::EmulatedAmplifier& model, const BusAddress& address) {
  UsbDeviceFacts facts;
  const sim::AmplifierDescription& description = model.Description();
  facts.address = address;
  facts.vendorId = description.vendorId;
  facts.productId = description.productId;
  facts.highSpeed = description.highSpeed;
  facts.descriptors = model.DeviceDescriptor();
  const std::vector<std::uint8_t> configuration = model.ConfigurationDescriptor(0);
  facts.descriptors.insert(facts.descriptors.end(), configuration.begin(), configuration.end());
  facts.manufacturer = description.manufacturer;
  facts.product = description.productName;
  facts.serial = description.amplifierSerial;
  return facts;
}

std::string TakeString(gchar* text) {
  std::string copy = text != nullptr ? text : "";
  g_free(text);
  return copy;
}

std::string TakeError(GError* error) {
  if (error == nullptr) return "unknown error";
  std::string message = error->message;
  g_error_free(error);
  return message;
}

// umockdev's signal reaches the node through a shared_ptr of its own, released when umockdev
// drops the handler: a node outlives every call umockdev can still make into it.
using NodeReference = std::shared_ptr<UsbfsNode>;

UsbfsNode& NodeOf(gpointer data) { return **static_cast<NodeReference*>(data); }

gboolean OnHandleIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                       gpointer node) {
  NodeOf(node).Handle(client);
  return TRUE;
}

void ReleaseNode(gpointer node, GClosure* /*closure*/) { delete static_cast<NodeReference*>(node); }

void ConnectNode(UMockdevIoctlBase* handler, const NodeReference& node) {
  g_signal_connect_data(handler, "handle-ioctl", G_CALLBACK(OnHandleIoctl),
                        new NodeReference(node), &ReleaseNode, GConnectFlags{});
}

}  // namespace

// An amplifier on the bus.
struct UsbfsTestbed::Device {
  std::shared_ptr<sim::EmulatedAmplifier> model;
  std::shared_ptr<UsbfsNode> node;
  GObjectRef<UMockdevIoctlBase> handler;
  std::string sysfsPath;
  bool plugged = true;
};

UsbfsTestbed::UsbfsTestbed() : UsbfsTestbed(std::vector<sim::AmplifierDescription>{}) {}

UsbfsTestbed::UsbfsTestbed(const std::vector<sim::AmplifierDescription>& amplifiers)
    : testbed_(GObjectRef<UMockdevTestbed>::Adopt(umockdev_testbed_new())),
      root_(TakeString(umockdev_testbed_get_root_dir(testbed_.get()))),
      busEpoch_(std::chrono::steady_clock::now()),
      nextDevice_(kFirstDevice),
      nextPort_(kFirstPort),
      deadlines_([this](SteadyTime now) { return ServiceDue(now); }) {
  if (!umockdev_in_mock_environment()) {
    throw std::runtime_error("the umockdev preload library is not loaded");
  }
  for (const auto& description : amplifiers) Plug(description);
}

UsbfsTestbed::~UsbfsTestbed() {
  std::vector<std::shared_ptr<Device>> devices;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    devices.swap(devices_);
  }
  for (const auto& device : devices) {
    const std::string node = DeviceNode(device->node->Address());
    umockdev_testbed_detach_ioctl(testbed_.get(), node.c_str(), nullptr);
  }
}

std::size_t UsbfsTestbed::Plug(const sim::AmplifierDescription& description) {
  auto device = std::make_shared<Device>();
  device->model = std::make_shared<sim::EmulatedAmplifier>(description, busEpoch_);
  BusAddress address;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    address.bus = kBus;
    address.device = nextDevice_++;
    address.port = nextPort_++;
  }
  device->sysfsPath = SysfsPath(address);
  const std::string nodePath = DeviceNode(address);
  GError* error = nullptr;
  const std::string record = UsbDeviceRecord(FactsOf(*device->model, address));
  if (!umockdev_testbed_add_from_string(testbed_.get(), record.c_str(), &error)) {
    throw std::runtime_error("cannot add " + nodePath + ": " + TakeError(error));
  }
  device->node = std::make_shared<UsbfsNode>(device->model, address, root_ + nodePath,
                                              [this] { deadlines_.Kick(); });
  if (!device->node->Valid()) throw std::runtime_error("cannot make " + nodePath + " a FIFO");

  device->handler = GObjectRef<UMockdevIoctlBase>::Adopt(umockdev_ioctl_base_new());
  ConnectNode(device->handler.get(), device->node);
  if (!umockdev_testbed_attach_ioctl(testbed_.get(), nodePath.c_str(), device->handler.get(),
                                     &error)) {
    throw std::runtime_error("cannot serve " + nodePath + ": " + TakeError(error));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.push_back(std::move(device));
  return devices_.size() - 1;
}

void UsbfsTestbed::Unplug(std::size_t index) {
  const std::shared_ptr<Device> device = DeviceAt(index);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!device->plugged) return;
    device->plugged = false;
  }
  device->node->Disconnect();
  // As the kernel does: the event first, then the device leaves sysfs. The node's ioctl handler
  // stays, so that files still open keep getting ENODEV.
  umockdev_testbed_uevent(testbed_.get(), device->sysfsPath.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_.get(), device->sysfsPath.c_str());
  deadlines_.Kick();
}

std::size_t UsbfsTestbed::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.size();
}

sim::EmulatedAmplifier& UsbfsTestbed::Amplifier(std::size_t index) const {
  return *DeviceAt(index)->model;
}

UsbfsNode& UsbfsTestbed::Node(std::size_t index) const { return *DeviceAt(index)->node; }

void UsbfsTestbed::Kick() { deadlines_.Kick(); }

NodeStatistics UsbfsTestbed::Statistics() const {
  NodeStatistics sum;
  for (const auto& device : Snapshot()) sum += device->node->Statistics();
  return sum;
}

std::optional<SteadyTime> UsbfsTestbed::ServiceDue(SteadyTime now) {
  std::optional<SteadyTime> earliest;
  for (const auto& device : Snapshot()) {
    const std::optional<SteadyTime> next = device->node->ServiceDue(now);
    if (next && (!earliest || *next < *earliest)) earliest = next;
  }
  return earliest;
}

std::vector<std::shared_ptr<UsbfsTestbed::Device>> UsbfsTestbed::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_;
}

std::shared_ptr<UsbfsTestbed::Device> UsbfsTestbed::DeviceAt(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_.at(index);
}

}  // namespace torva::e2e
