// velmora's commands, each returning the exit status (exit_codes.h).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/terminal/console.h"

namespace velmora {

class JsonEvents;

struct RunOptions {
  std::string operation;                    // an index or a word of the operation's name
  int port = 1;                             // COM1..COM6
  std::optional<std::string> device;        // what COM<port> is
  std::string plugin;                       // the plug-in's path
  std::optional<std::string> trace;         // the wire trace's file
  std::optional<std::string> monitorImage;  // the flash monitor program file for the run
  bool yes = false;
  std::optional<std::string> firmware;  // page input: the list item to select
  std::optional<std::string> logFile;   // page input: the text of the edit control
  // --give-up-after; unset: the default for the terminal or its absence (give_up.h).
  std::optional<std::uint32_t> giveUpSeconds;
  JsonEvents* json = nullptr;  // --json: the events go here, people's text to stderr
  // --ledger (else $VELMORA_LEDGER): the depot's PostgreSQL ledger the run's record is
  // also written to; unreachable at the start, the run is refused.
  std::optional<std::string> ledger;
};

// velmora firmware add|remove.
struct FirmwareOptions {
  std::string plugin;
  std::string file;                        // add: the S-record file
  std::optional<std::string> description;  // add: the entry's text; remove: the entry
  bool yes = false;                        // the questions are answered Yes
};

int FirmwareAddCommand(const FirmwareOptions& options, Console& console);
int FirmwareRemoveCommand(const FirmwareOptions& options, Console& console);
int FirmwareListCommand(Console& console);

// velmora station (POSIX): one operation on many devices, a child process per slot.
struct StationOptions {
  std::string operation;
  std::vector<std::string> slots;  // each slot's port, as --device takes it
  std::string plugin;
  std::optional<std::string> firmware;
  bool yes = false;
  std::optional<std::uint32_t> giveUpAfter;
  std::optional<std::string> monitorImage;
  std::optional<std::string> ledger;
  std::optional<std::string> logDir;
  std::optional<std::string> traceDir;
  bool json = false;
  bool repeat = false;
  std::optional<int> count;
  std::optional<std::string> config;  // the station file, read with the command line
};
int StationCommand(const StationOptions& options, Console& console);

int ListCommand(const std::string& pluginPath, Console& console);
int RunCommand(const RunOptions& options, Console& console);
int PortsCommand(Console& console);
int RegistryImportCommand(const std::string& file, Console& console);
int RegistryExportCommand(const std::string& file, const std::string& key, bool unicode,
                          Console& console);

// The registry database in use must be one: false after saying so when it is another
// kind of file (or cannot be opened).
bool RegistryUsable();

// "velmora: <text>" on standard error.
void Complain(const std::string& text);

}  // namespace velmora
