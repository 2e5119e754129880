// The comm-port backend for serial ports served over the network: telnet with the
// COM-PORT-OPTION (RFC 2217). Names "rfc2217://HOST:PORT" ("[v6-address]:PORT" too)
// reach it through OpenCommPort; the port keeps the Windows semantics of the interface.
//
// Servers differ, so the client waits only for what every server answers: the four
// line settings (and checks the answers) and purges. SET-CONTROL answers (flow control,
// DTR, RTS, break) are neither waited for nor trusted: some servers send none, some
// answer BREAK OFF with the BREAK ON value.
#pragma once
#include <cstdint>
#include <string>

#include "platform/comm_port.h"

namespace platform {

constexpr const char* kRfc2217Prefix = "rfc2217://";

// Splits "HOST:PORT" / "[HOST]:PORT". False for a missing host, a port outside 1..65535
// or anything after it.
bool ParseRfc2217Address(const std::string& text, std::string& host, std::uint16_t& port);

// How long the client waits for the server: connection, option agreement, the answer to
// a setting or a purge. Default 3000 ms; tests shorten it. Returns the previous value.
std::uint32_t SetRfc2217AnswerTimeoutMs(std::uint32_t ms);

}  // namespace platform
