#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "bacnet/bacnet_stack.h"
#include "common/iam_frame.h"

using namespace bacnet;

namespace {

using testutil::IAmFrame;

// The devices announce themselves by broadcast, segmenting both ways.
constexpr testutil::IAmTail kBroadcast{.broadcast = true, .segmentation = 0x00, .vendor = 0x2A};

// I-Am frames are registered on one thread while others look devices up,
// use them under the table's lock and register the same devices directly:
// every device ends up in the table exactly once and lookups never see a
// freed or half-made device.
TEST(StackConcurrency, RegistrationWhileLookingUp) {
  constexpr uint32_t kDevices = 300;
  TBACnetStack stack;
  std::atomic<int> found{0};
  stack.OnDeviceFound = [&](TBACnetStack&, const TDeviceConnInfo&) { found.fetch_add(1); };
  const TDeviceConnInfo expected{TIpEndPoint{"10.0.0.1", 47808, false}};
  std::atomic<bool> done{false};

  std::thread receiver([&] {
    for (uint32_t i = 0; i < kDevices; ++i) {
      const auto f = IAmFrame(i, kBroadcast);
      stack.Inbound.Push(std::make_unique<TBacDataItem>(f.data(), static_cast<int32_t>(f.size()), "10.0.0.1", 47808));
      TProperty p;
      EXPECT_EQ(stack.ProcessReceived(0, expected, p), 0x10);
    }
    done = true;
  });
  std::thread registrar([&] {
    TDeviceConnInfo conn{TIpEndPoint{"10.0.0.1", 47808, false}};
    for (uint32_t i = kDevices; i-- > 0;) stack.RegisterDevice(conn, i, nullptr, nullptr);
  });
  std::thread reader([&] {
    const TDeviceConnInfo conn{TIpEndPoint{"10.0.0.1", 47808, false}};
    uint32_t i = 0;
    while (!done) {
      TDeviceReadLock lock(stack.Data.Devices);
      if (TDevice* d = stack.FindDevice(conn, i % kDevices)) {
        EXPECT_EQ(d->ConnInfo.Instance, i % kDevices);
        EXPECT_EQ(d->BasicProperties[0].ItemName, "DEV_OBJECT_NAME");
      }
      ++i;
    }
  });
  receiver.join();
  registrar.join();
  reader.join();

  std::set<uint32_t> instances;
  {
    TDeviceReadLock lock(stack.Data.Devices);
    for (const TDevice* d : lock.Items()) instances.insert(d->ConnInfo.Instance);
    EXPECT_EQ(lock.Items().size(), kDevices);
  }
  EXPECT_EQ(instances.size(), kDevices);
  EXPECT_LE(found.load(), static_cast<int>(kDevices));
}

// Who-Is goes out on the scheduler's thread while I-Am frames are handled on
// the host's data thread: the port of the last Who-Is is shared by both.
TEST(StackConcurrency, WhoIsWhileIAmIsHandled) {
  constexpr uint32_t kRounds = 2000;
  TBACnetStack stack;
  stack.OnSend = [](TBACnetStack&, TBacBytes, const TDeviceConnInfo&, int32_t) { return 0; };
  std::atomic<uint32_t> handled{0};
  // The sender keeps going until the receiver has handled every frame, so
  // the two overlap whatever the scheduling.
  std::thread sender([&] {
    TDeviceConnInfo bc{TIpEndPoint{"10.0.0.255", 47808, true}};
    for (uint32_t i = 0; handled.load(std::memory_order_relaxed) < kRounds; ++i) {
      bc.EndPoint.Port = static_cast<uint16_t>(47808 + (i & 1));
      stack.SendWhoIs(bc);
    }
  });
  const TDeviceConnInfo expected{TIpEndPoint{"10.0.0.1", 47808, false}};
  for (uint32_t i = 0; i < kRounds; ++i) {
    const auto f = IAmFrame(i % 64, kBroadcast);
    stack.Inbound.Push(std::make_unique<TBacDataItem>(f.data(), static_cast<int32_t>(f.size()), "10.0.0.1", 1));
    TProperty p;
    EXPECT_EQ(stack.ProcessReceived(0, expected, p), 0x10);
    handled.fetch_add(1, std::memory_order_relaxed);
  }
  sender.join();
  TDeviceReadLock lock(stack.Data.Devices);
  for (const TDevice* d : lock.Items())
    EXPECT_TRUE(d->ConnInfo.EndPoint.Port == 47808 || d->ConnInfo.EndPoint.Port == 47809);
}

}  // namespace
