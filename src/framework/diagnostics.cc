#include "framework/diagnostics.h"

#include <memory>

#include "platform/port.h"

namespace kel {

namespace {

// Made on first use, freed with the library.
port::CriticalSection& HandlerLock() {
  static port::CriticalSection lock;
  return lock;
}
std::shared_ptr<const TDiagnosticsHandler>& Handler() REQUIRES(HandlerLock()) {
  static std::shared_ptr<const TDiagnosticsHandler> handler;
  return handler;
}

std::shared_ptr<const TDiagnosticsHandler> CurrentHandler() {
  port::Guard g(HandlerLock());
  return Handler();
}

}  // namespace

void SetDiagnosticsHandler(TDiagnosticsHandler handler) {
  std::shared_ptr<const TDiagnosticsHandler> next;
  if (handler) next = std::make_shared<const TDiagnosticsHandler>(std::move(handler));
  port::Guard g(HandlerLock());
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
