// What velmora writes on a user's behalf (an exported registry file, a dump's log file,
// a wire trace) must not destroy what the name stands for: the registry database itself,
// a directory, a FIFO that would hold the run for ever. Character devices are written in
// place (platform/output_file.h).
#pragma once
#include <optional>
#include <string>

namespace velmora {

// Why `path` cannot take the output, for "velmora: <what> <path>: <why>"; nullopt when
// it can.
std::optional<std::string> OutputProblem(const std::string& path);

// "5 (access denied)": a Windows error number with its meaning, for velmora's own
// messages.
std::string ErrorText(long error);

// The registry database named by a message that says it is not one.
std::string NotARegistryText(const std::string& path);

}  // namespace velmora
