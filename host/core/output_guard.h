// What velmora writes on a user's behalf (an exported registry file, a dump's log file,
// a wire trace) must not destroy what the name stands for: the registry database itself,
// a directory, a FIFO that would hold the run for ever. Character devices are written in
// place (platform/output_file.h).
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// Why `path` cannot take the output, for "velmora: <what> <path>: <why>"; nullopt when
// it can.
std::optional<std::string> OutputProblem(const std::string& path);

// Whether two names stand for one file: the same file (device and inode, or what the
// system gives in their place) when both exist, else the same absolute name once "."
// "..", links of the folders and repeated separators are resolved.
bool SameFile(const std::string& a, const std::string& b);

// A file a run reads or writes, with the option or place it comes from
// ("--trace", "--monitor-image", "the firmware catalogue").
struct RunFile {
  std::string what;
  std::string path;
};

// The files of the firmware catalogue (each entry's "FirmwarePath"): what an upgrade
// programs from, and what Delete removes.
std::vector<RunFile> CatalogueFiles();

// What a run may read besides the device: the catalogue's files, the flash monitor program
// (VELMORA_KV70_MONITOR, which --monitor-image sets) and, when given, a firmware file
// named on the command line.
std::vector<RunFile> RunInputs(const std::optional<std::string>& firmwareFile = std::nullopt);

// The first clash among a run's files, said as "--trace X: <why>": two outputs naming
// one file (each would write over the other), or an output naming an input of the run
// (the input would be emptied before it was read). nullopt when there is none.
std::optional<std::string> OutputClash(const std::vector<RunFile>& outputs,
                                       const std::vector<RunFile>& inputs);

// "5 (access denied)": a Windows error number with its meaning, for velmora's own
// messages.
std::string ErrorText(long error);

// The registry database named by a message that says it is not one.
std::string NotARegistryText(const std::string& path);

}  // namespace velmora
