// The comm-port backend for serial ports served over the network: telnet with the
// COM-PORT-OPTION (RFC 2217), on every system. Names "rfc2217://HOST:PORT"
// ("[v6-address]:PORT" too) reach it through OpenCommPort; the port keeps the Windows
// semantics of the interface. The protocol is Rfc2217Session's (rfc2217_session.h), the
// connection the system's TcpConnection (socket.h).
#pragma once
#include <cstddef>
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

// Received data a network port holds for the next reads. While nobody reads, the rest
// waits in the socket (TCP's flow control holds the server back: nothing is lost). A
// wait for an answer (the option agreement, a line setting, a purge) must read on to
// find it: data beyond this that arrives meanwhile is dropped and reported as CE_RXOVER,
// as a full input buffer is on a local port.
constexpr std::size_t kRfc2217MaxHeld = 64 * 1024;

// What is wrong with "HOST:PORT" in the user's words, naming the part ("the port 70000
// is outside 1 to 65535"); empty when ParseRfc2217Address takes it.
std::string Rfc2217AddressProblem(const std::string& text);

// LastCommPortProblem's text when `name` resolves to a network port, e.g.
// "rfc2217://10.0.0.5:2217: the server does not speak RFC 2217 ..."; empty otherwise.
// A failed open also leaves the text in the wire trace, as the note "open-failed "
// followed by it.
std::string Rfc2217OpenFailure(const std::string& name);

}  // namespace platform
