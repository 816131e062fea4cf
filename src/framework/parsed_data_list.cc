#include "framework/parsed_data_list.h"

namespace kel {

void TParsedDataList::Clear() {
  TkelParamsList::Clear();
  FullPacket.clear();
}

void TParsedDataList::AddPacket(std::string_view text) {
  if (FullPacket.empty()) {
    FullPacket.assign(text);
    return;
  }
  FullPacket += kPacketSeparator;
  FullPacket += text;
}

}  // namespace kel
