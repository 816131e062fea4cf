// Pumping the calling thread's window messages while it waits.
#pragma once

#include <cstdint>

namespace kel {

// Dispatches one waiting message; false when none was waiting (or it was a quit
// request, which stays pending).  Always false on POSIX.
bool ProcessOneMessage();
// Pumps until no message is waiting, or at most maxCount messages when maxCount
// is above 0; yields the time slice after every 10th message.
void ProcessMessages(int32_t maxCount = 0);

}  // namespace kel
