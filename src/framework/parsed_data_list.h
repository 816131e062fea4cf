// A parameter list of parsed values together with the raw texts of the
// packets that produced it.
#pragma once

#include <string>
#include <string_view>

#include "params/params_list.h"

namespace kel {

// Separates packets in FullPacket and in the raw text handed to the host.
inline constexpr std::string_view kPacketSeparator = "<{[::]}>";

class TParsedDataList : public TkelParamsList {
 public:
  // Empties the items and FullPacket.
  void Clear();
  // Appends a packet text to FullPacket, after the separator when needed.
  void AddPacket(std::string_view text);

  std::string FullPacket;
};

}  // namespace kel
