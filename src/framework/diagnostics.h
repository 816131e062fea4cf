// The diagnostics report: the call stack of a failing host call as text,
// handed to an installed report handler or, without one, to the debugger
// output.  Nothing here raises.
#pragma once

#include <functional>
#include <string>

namespace kel {

class TkelPlugin;

// Receives the report text with the instance the failure belongs to (null
// when there is none).
using TDiagnosticsHandler = std::function<void(TkelPlugin* instance, const std::string& text)>;

// Installs the process-wide report handler; an empty one removes it.
void SetDiagnosticsHandler(TDiagnosticsHandler handler);
bool DiagnosticsHandlerInstalled();

// The calling thread's call stack in the ANSI code page, followed by CR LF
// and extra when both are not empty.  Empty when the platform gives no
// stack.  skipFrames leaves out that many frames above the caller.
std::string DiagnosticsText(const std::string& extra = {}, unsigned skipFrames = 0);

// Builds the text and delivers it: to the handler when one is installed,
// otherwise to the debugger output (where it would otherwise be dropped).
// An empty text ends the report.  A failure while building or delivering it
// goes no further.
void DiagnosticsReport(TkelPlugin* instance, const std::string& extra = {});

}  // namespace kel
