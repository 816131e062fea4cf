// IPv4 endpoints as the host writes and reads them: "a.b.c.d" or
// "a.b.c.d:port", decimal only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace host {

// A dotted IPv4 address of four decimal numbers 0..255 (no leading "+", no
// blanks, at most three digits each).
bool IsIpv4Address(std::string_view text);

// A decimal port 0..65535 of at most five digits.
bool ParsePort(std::string_view text, uint16_t* port);

// "address[:port]"; the port is defaultPort when absent.  False for anything
// else, with a short reason.
bool ParseEndpoint(std::string_view text, uint16_t defaultPort, std::string* address, uint16_t* port,
                   std::string* reason);

std::string EndpointText(const std::string& address, uint16_t port);

}  // namespace host
