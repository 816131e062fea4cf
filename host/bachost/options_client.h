// The host's side of the options dialog, for the reference host's
// "--options" and "--show-options": fetch the package as a host does and
// print what it holds, or run the module's options handling and report the
// settings-changed messages (1812) that come back.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "plugin_library.h"

namespace host {

// Fetches the package in two calls: an empty buffer for the size (status 3),
// then a buffer of that size.  false with a message for any other answer.
bool FetchOptionsPackage(const PluginExports& x, uint32_t instance, std::string* package, std::string* error);

// "--options": fetches and checks the package and prints its parts: the
// script (XML), the form name, the persistence map and the form as text.
// 0 when all was well, 1 with the reason printed otherwise.
int PrintOptions(const PluginExports& x, uint32_t instance, std::ostream& out);

// Collects message 1812 from the host's notification channel: hand every
// message to OnMessage (from any thread).
class SettingsChangedLog {
 public:
  void OnMessage(uint32_t message, uint32_t wparam, uint32_t lparam);
  // The word parameters of the 1812 messages so far, once at least count
  // have arrived or the bound has passed.
  std::vector<uint32_t> WaitFor(size_t count, std::chrono::milliseconds bound);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<uint32_t> indexes_;
};

// What ShowOptionsDialog's status means.
const char* ShowOptionsStatusText(uint32_t status);

// "--show-options": calls ShowOptionsDialog for the instance, prints the
// status, then waits at most bound for expectedMessages settings-changed
// messages and prints the module index of each.  Returns the status (-1
// when the call gave no status).
int64_t ShowOptions(const PluginExports& x, uint32_t instance, SettingsChangedLog* log, size_t expectedMessages,
                    std::chrono::milliseconds bound, std::ostream& out);

}  // namespace host
