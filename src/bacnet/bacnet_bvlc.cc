#include "bacnet/bacnet_bvlc.h"

#include "bacnet/bacnet_pdu.h"

namespace bacnet {

int32_t BuildRegisterForeignDevice(std::span<uint8_t> out, uint16_t timeToLive) {
  if (out.size() < static_cast<size_t>(kRegisterForeignDeviceLength)) return 0;
  out[0] = kBvlcType;
  out[1] = kBvlcRegisterForeignDevice;
  out[2] = 0;
  out[3] = kRegisterForeignDeviceLength;
  out[4] = static_cast<uint8_t>(timeToLive >> 8);
  out[5] = static_cast<uint8_t>(timeToLive);
  return kRegisterForeignDeviceLength;
}

int32_t BuildDeleteFdtEntry(std::span<uint8_t> out, const std::array<uint8_t, 4>& address, uint16_t port) {
  if (out.size() < static_cast<size_t>(kDeleteFdtEntryLength)) return 0;
  out[0] = kBvlcType;
  out[1] = kBvlcDeleteFdtEntry;
  out[2] = 0;
  out[3] = kDeleteFdtEntryLength;
  for (size_t i = 0; i < 4; ++i) out[4 + i] = address[i];
  out[8] = static_cast<uint8_t>(port >> 8);
  out[9] = static_cast<uint8_t>(port);
  return kDeleteFdtEntryLength;
}

bool DecodeBvlcResult(TBacBytes frame, uint16_t& code) {
  if (frame.size() < 6 || frame[0] != kBvlcType || frame[1] != kBvlcResult) return false;
  if (frame[2] != 0 || frame[3] != 6) return false;
  code = static_cast<uint16_t>((frame[4] << 8) | frame[5]);
  return true;
}

}  // namespace bacnet
