// The BACnet/IP link's management frames of a foreign device: registration
// with a broadcast manager, deleting its table entry, broadcasts distributed
// through it, and the manager's result.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "bacnet/bacnet_utils.h"

namespace bacnet {

constexpr uint8_t kBvlcResult = 0x00;
constexpr uint8_t kBvlcRegisterForeignDevice = 0x05;
constexpr uint8_t kBvlcDeleteFdtEntry = 0x08;
constexpr uint8_t kBvlcDistributeBroadcast = 0x09;

// Result codes of a BVLC-Result.
constexpr uint16_t kBvlcSuccess = 0x0000;
constexpr uint16_t kBvlcRegisterForeignDeviceNak = 0x0030;

constexpr int32_t kRegisterForeignDeviceLength = 6;
constexpr int32_t kDeleteFdtEntryLength = 10;

// Register-Foreign-Device with the time to live in seconds; the length (6),
// 0 when out is too small.
int32_t BuildRegisterForeignDevice(std::span<uint8_t> out, uint16_t timeToLive);
// Delete-Foreign-Device-Table-Entry for the entry of address:port; the
// length (10), 0 when out is too small.
int32_t BuildDeleteFdtEntry(std::span<uint8_t> out, const std::array<uint8_t, 4>& address, uint16_t port);
// The result code of a BVLC-Result (four-octet header whose length is 6,
// then the code); false for any other frame.
bool DecodeBvlcResult(TBacBytes frame, uint16_t& code);

}  // namespace bacnet
