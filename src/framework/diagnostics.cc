#include "framework/diagnostics.h"

#include <memory>
#include <mutex>

#include "platform/port.h"

namespace kel {

namespace {

// Both are constant-initialised, so a report works at any time the
// library is loaded, and nothing stays behind when it is unloaded.
std::mutex g_handlerLock;
std::shared_ptr<const TDiagnosticsHandler> g_handler;

std::mutex& HandlerLock() { return g_handlerLock; }
std::shared_ptr<const TDiagnosticsHandler>& Handler() { return g_handler; }

std::shared_ptr<const TDiagnosticsHandler> CurrentHandler() {
  std::lock_guard<std::mutex> g(HandlerLock());
  return Handler();
}

}  // namespace

void SetDiagnosticsHandler(TDiagnosticsHandler handler) {
  std::shared_ptr<const TDiagnosticsHandler> next;
  if (handler) next = std::make_shared<const TDiagnosticsHandler>(std::move(handler));
  std::lock_guard<std::mutex> g(HandlerLock());
  Handler().swap(next);
}

bool DiagnosticsHandlerInstalled() { return CurrentHandler() != nullptr; }

std::string DiagnosticsText(const std::string& extra, unsigned skipFrames) {
  try {
    std::string text = port::Utf16ToAnsi(port::CallStackText(skipFrames + 1));
    if (!text.empty() && !extra.empty()) text += "\r\n" + extra;
    return text;
  } catch (...) {
    return {};
  }
}

void DiagnosticsReport(TkelPlugin* instance, const std::string& extra) {
  try {
    auto handler = CurrentHandler();
    // Nobody would read it: the stack is not even taken.
    if (!handler && !port::DebugOutputEnabled()) return;
    std::string text = DiagnosticsText(extra, 1);
    if (text.empty()) return;
    if (handler) (*handler)(instance, text);
    else port::DebugOutput(text);
  } catch (...) {
  }
}

}  // namespace kel
