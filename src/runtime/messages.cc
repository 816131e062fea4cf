#include "runtime/messages.h"

#include "platform/port.h"

namespace kel {

bool ProcessOneMessage() {
  try {
    return port::ProcessOneMessage();
  } catch (...) {
    return true;
  }
}

void ProcessMessages(int32_t maxCount) {
  int32_t n = 0;
  while (ProcessOneMessage()) {
    ++n;
    if (n % 10 == 0) port::SleepMs(0);
    if (maxCount > 0 && n >= maxCount) break;
  }
}

}  // namespace kel
