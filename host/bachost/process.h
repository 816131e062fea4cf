// The few facts about its own process the host needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

uint32_t CurrentProcessId();

// The program's arguments after its name, in UTF-8.  Windows hands main
// them in the ANSI code page; they are taken from the UTF-16 command line
// there instead.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace host
