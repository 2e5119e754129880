// velmora: the host application. It loads a device plug-in, shows the chosen
// operation's wizard pages on the terminal (or fills them from the command line), runs
// the operation with its status texts and progress, and answers its questions.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

#include "host/core/exit_codes.h"
#include "host/core/give_up.h"
#include "host/core/json_events.h"
#include "host/core/plugin_library.h"
#include "host/core/real_device_help.h"
#include "host/core/session.h"
#include "host/core/text.h"
#include "host/core/version.h"
#include "host/terminal/commands.h"
#include "host/terminal/interrupts.h"
#include "host/terminal/record_commands.h"
#include "sim/sim_port.h"

namespace {

constexpr const char* kRunFooter = R"(
OPERATION is the index shown by "velmora list" or a word of the operation's name
(for example upgrade, config, dump).

--device says what the COM port is: a device path such as /dev/ttyUSB0, a serial
port served over the network as rfc2217://HOST:PORT (RFC 2217, e.g. by ser2net), or
sim[:key=value,...] for the built-in simulated device (see "kv70sim --help" for its
settings; with realtime=1 it keeps wall-clock time, else device minutes pass in
milliseconds).

With a terminal on standard input and no page inputs, velmora asks: the wizard pages,
the summary and every message box. Otherwise nothing is asked: pages are filled from
--firmware and --log-file and Next is pressed, OK boxes are taken, and questions are
answered No unless --yes. A page with a list needs --firmware: a list item's text, or
an S-record file, which is registered first as "velmora firmware add" does. Ctrl-C,
SIGTERM and SIGHUP cancel a run (status 2); a second one ends velmora at once.

Without a terminal a run that makes no progress for 300 s is cancelled and counts as
failed (--give-up-after sets the time; 0 never gives up).

Exit status: 0 succeeded, 1 failed (also a run given up, or a wire trace not written),
2 cancelled, 64 wrong usage (including a page that did not accept the page inputs, a
simulator setting that cannot be used, an output that would destroy the registry, a file
the run reads or the other output, or is no file).)";

constexpr const char* kFirmwareFooter = R"(
The upgrade offers the registered files by their description. Adding checks every record
of the file and copies it into the Firmware folder of Velmora's data directory, as the
register dialog does (Insert on the upgrade's software list); removing asks first, as
Delete does, and deletes the file only when it is the entry's own copy there. Without a
terminal the questions are answered No unless --yes. "velmora run upgrade --firmware
FILE" registers a file that is not in the list yet by itself.

Exit status: 0 done, 1 refused (the message says why), 2 a question answered No,
64 wrong usage.)";

constexpr const char* kPluginHelp =
    "the device plug-in (default: DevKV70.so beside velmora, else the installed one)";

void AddRegistryOption(CLI::App& command, std::string& registry) {
  command.add_option("--registry", registry,
                     "registry database to use (default: $VELMORA_REGISTRY, else "
                     "~/.config/velmora/registry.db)");
}

}  // namespace

// The commands' options live here with the rest of the command line, the commands' work
// in their own files: CLI11's header costs seconds of compile time in each file that
// includes it.
namespace velmora {

namespace {

// The limits of --give-up-after (run, station) and their reason are host/core's, shared
// with velmora-gui.
CLI::Validator GiveUpCheck() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty() || text.size() > 12 ||
            !std::all_of(text.begin(), text.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; }))
          return "takes whole seconds, not \"" + text + "\"";
        return GiveUpSecondsProblem(std::stoull(text));
      },
      "SECONDS");
}

CLI::App* AddTraceShowCommand(CLI::App& trace, TraceShowOptions& options) {
  trace.require_subcommand(1);
  CLI::App* show = trace.add_subcommand(
      "show", "print a wire trace (run --trace FILE) frame by frame, then what the run did");
  show->add_option("FILE", options.file, "the wire trace")->required();
  show->add_flag("--hex", options.allBytes, "print every frame's bytes in hex under it");
  show->add_flag("--summary", options.summaryOnly, "print only what the run did");
  show->footer(
      "Each line: milliseconds since the trace began, the gap since the line before, the "
      "direction (> to the device, < from it, ! a line event) and what the frame says. A "
      "frame with a bad checksum, a frame cut short and bytes that belong to no frame are "
      "shown with their bytes and never taken as the device's word.");
  return show;
}

CLI::App* AddHistoryCommand(CLI::App& app, HistoryOptions& options) {
  CLI::App* history =
      app.add_subcommand("history", "list the service records of the runs, oldest first");
  history->add_option("--serial", options.filter.serial, "only this device serial number");
  history->add_option("--since", options.filter.since,
                      "only runs started at or after this UTC time (YYYY-MM-DD[THH:MM[:SS]])");
  history->add_option("--result", options.filter.result,
                      "only succeeded, failed, cancelled or interrupted runs");
  history->add_option("--operation", options.filter.operation,
                      "only this operation (upgrade, config, dump)");
  auto* json = history->add_flag("--json", options.json, "one JSON object per line");
  history->add_flag("--csv", options.csv, "comma-separated values with a header line")
      ->excludes(json);
  history->add_option("--ledger", options.ledger,
                      "read the depot's PostgreSQL ledger (every station's records) instead "
                      "of the local database: postgresql://USER@HOST/DATABASE");
  history->add_option("--bench-writes", options.benchWrites)->group("");
  return history;
}

#ifndef _WIN32
constexpr const char* kStationFooter = R"(
Each slot runs "velmora run OPERATION --device PORT --json" in a process of its own, with
the run options given here; a PORT is anything --device takes (/dev/serial/by-path/...
names stay the same for the same USB socket). Nothing is asked: without --yes a question
is answered No and the slot fails with the question as its reason. A dump is written to
--log-dir (default: the current directory) as SERIAL-YYYYmmdd-HHMMSS.log, the port's name
standing in for a serial number that could not be read; no file is ever replaced.

--config FILE reads the options from a TOML file, for example:
  slot = ["/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0",
          "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"]
  log-dir = "/srv/kv70/dumps"

With --repeat a slot runs again when its device is done, on the next device the
technician connects and restarts ("waiting for a KV70" meanwhile), until Ctrl-C or
--count devices. Ctrl-C, SIGTERM and SIGHUP cancel every slot through its own cancel and
wait for them; a second one ends them at once.

Exit status: 0 every slot succeeded, 1 any failed, 2 cancelled, 64 wrong usage.)";

CLI::App* AddStationCommand(CLI::App& app, StationOptions& options) {
  CLI::App* command =
      app.add_subcommand("station", "run one operation on many devices at once, a slot per port");
  command->add_option("OPERATION", options.operation, "index or name word of the operation")
      ->required();
  command->add_option("--slot", options.slots,
                      "a slot's port, as --device takes it (repeat for each slot)");
  command->add_option("--firmware", options.firmware,
                      "passed to every slot's run: the firmware's description or an S-record file");
  command->add_flag("--yes", options.yes, "answer Yes to the operation's questions in every slot");
  command
      ->add_option("--give-up-after", options.giveUpAfter,
                   "SECONDS without a change of progress after which a slot's run is cancelled "
                   "and fails (default 300; 0: never; else at least 30)")
      ->check(GiveUpCheck());
  command->add_option("--monitor-image", options.monitorImage,
                      "the KV70's own flash monitor program, for every slot");
  command->add_option("--ledger", options.ledger, "passed to every slot's run: the depot's ledger");
  command->add_option("--log-dir", options.logDir,
                      "folder of the dumps' log files (default: the current directory)");
  command->add_option("--trace-dir", options.traceDir,
                      "write each run's wire trace into this folder, one file per run");
  command->add_flag("--json", options.json,
                    "standard output carries only JSON Lines: each child's events with \"slot\" "
                    "and \"slot_device\" in front, a slot_end event per run, and last station_end");
  command->add_flag("--repeat", options.repeat,
                    "when a slot's device is done, wait for the next one on the same port");
  command
      ->add_option("--count", options.count,
                   "with --repeat: devices per slot (default: until Ctrl-C)")
      ->check(CLI::Range(1, 1000000));
  command->add_option("--plugin", options.plugin,
                      "the device plug-in (default: DevKV70.so beside velmora)");
  command->add_option("--config", options.config,
                      "a station file: the station's options (the slots first) in TOML; the "
                      "command line's own options win");
  command->footer(kStationFooter);
  return command;
}

bool ApplyStationConfig(CLI::App& command, const std::string& file, std::string& error) {
  std::vector<CLI::ConfigItem> items;
  try {
    items = CLI::ConfigTOML().from_file(file);
  } catch (const CLI::Error& e) {
    error = "--config " + file + ": " + e.what();
    return false;
  }
  for (const CLI::ConfigItem& item : items) {
    // Keys at the top, or in a [station] section.
    if (item.name == "++" || item.name == "--") continue;
    if (!(item.parents.empty() || (item.parents.size() == 1 && item.parents[0] == "station"))) {
      error = "--config " + file + ": unknown section " + item.parents[0];
      return false;
    }
    CLI::Option* option = command.get_option_no_throw("--" + item.name);
    if (option == nullptr || item.name == "config" || item.name == "help") {
      error = "--config " + file + ": unknown key " + item.name;
      return false;
    }
    if (option->count() > 0) continue;  // given on the command line
    try {
      if (option->get_expected_min() == 0) {
        const std::string value = item.inputs.empty() ? "true" : Lower(item.inputs.front());
        if (value == "false" || value == "0" || value == "no" || value == "off") continue;
        option->add_result(std::string("true"));
      } else {
        option->add_result(item.inputs);
      }
      option->run_callback();
    } catch (const CLI::Error& e) {
      error = "--config " + file + ": " + item.name + ": " + e.what();
      return false;
    }
  }
  return true;
}

#endif

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  CLI::App app{"velmora: maintains a device through its plug-in, over a serial line."};
  app.require_subcommand(1);
  app.set_version_flag("--version", VersionLine("velmora"), "print velmora's version and end");

  std::string plugin = DefaultPluginPath();
  std::string registry;

  CLI::App* list = app.add_subcommand("list", "list the plug-in's operations");
  list->add_option("--plugin", plugin, kPluginHelp);

  CLI::App* ports =
      app.add_subcommand("ports", "list this machine's serial ports and what COM1 to COM6 are now");

  RunOptions run;
  std::string firmware;
  std::string logFile;
  std::string device;
  std::string trace;
  std::string monitorImage;
  CLI::App* runCommand = app.add_subcommand("run", "run one operation of the plug-in");
  runCommand->add_option("OPERATION", run.operation, "index or name word of the operation")
      ->required();
  runCommand->add_option("--port", run.port, "COM port number, 1 to 6")
      ->check(CLI::Range(1, 6))
      ->default_val(1);
  runCommand->add_option(
      "--device", device,
      "what the COM port is: a device path, rfc2217://HOST:PORT or sim[:key=value,...]");
  runCommand->add_option("--plugin", plugin, kPluginHelp);
  AddRegistryOption(*runCommand, registry);
  runCommand->add_flag("--yes", run.yes, "answer Yes to the operation's questions");
  runCommand->add_option("--trace", trace, "write every byte on the line to FILE");
  runCommand->add_option(
      "--monitor-image", monitorImage,
      "the KV70's own 8554-byte flash monitor program (sets VELMORA_KV70_MONITOR)");
  runCommand->add_option("--firmware", firmware,
                         "page input: select the list item with this text (the firmware's "
                         "description), or an S-record file, registered first");
  runCommand->add_option("--log-file", logFile, "page input: the file name for the page's field");
  std::uint32_t giveUpAfter = 0;
  runCommand
      ->add_option("--give-up-after", giveUpAfter,
                   "SECONDS without a change of progress after which the run is cancelled and "
                   "counts as failed (default: 300 without a terminal, never with one; 0: never; "
                   "else at least 30)")
      ->check(GiveUpCheck());
  bool json = false;
  runCommand->add_flag("--json", json,
                       "standard output carries only JSON Lines events (start, inputs, status, "
                       "progress, boxes, warnings, and last the result); people's text goes to "
                       "standard error");
  std::string ledger;
  runCommand->add_option("--ledger", ledger,
                         "also write the run's service record to the depot's PostgreSQL "
                         "ledger, postgresql://USER@HOST/DATABASE (default: $VELMORA_LEDGER); "
                         "refused when it cannot be reached");
  runCommand->footer(std::string(kRunFooter) + "\n\n" + RealDeviceHelp());

  CLI::App* registryCommand = app.add_subcommand(
      "registry", "import or export registry files (REGEDIT4, Windows Registry Editor 5.00)");
  registryCommand->require_subcommand(1);
  std::string importFile;
  CLI::App* import = registryCommand->add_subcommand(
      "import", "merge a .reg file into the registry (REGEDIT4 or version 5.00, UTF-8 or UTF-16)");
  import->add_option("FILE", importFile, "the .reg file")->required()->check(CLI::ExistingFile);
  AddRegistryOption(*import, registry);
  std::string exportFile;
  std::string exportKey;
  CLI::App* exportCommand =
      registryCommand->add_subcommand("export", "write the registry, or one key, to a .reg file");
  exportCommand->add_option("FILE", exportFile, "the .reg file to write")->required();
  exportCommand->add_option("KEY", exportKey,
                            "full key name, e.g. HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnell");
  bool exportUnicode = false;
  exportCommand->add_flag(
      "--unicode", exportUnicode,
      "write \"Windows Registry Editor Version 5.00\" in UTF-16LE, as Windows writes it "
      "(default: REGEDIT4)");
  AddRegistryOption(*exportCommand, registry);

  FirmwareOptions firmwareOptions;
  firmwareOptions.plugin = plugin;
  CLI::App* firmwareCommand = app.add_subcommand(
      "firmware", "the firmware catalogue: register, list and remove S-record files");
  firmwareCommand->require_subcommand(1);
  firmwareCommand->footer(kFirmwareFooter);
  CLI::App* firmwareAdd = firmwareCommand->add_subcommand(
      "add", "register an S-record file (checked, and copied into the firmware folder)");
  firmwareAdd->add_option("FILE", firmwareOptions.file, "the S-record file")
      ->required()
      ->check(CLI::ExistingFile);
  firmwareAdd->add_option(
      "--description", firmwareOptions.description,
      "the text the upgrade's list shows and --firmware names (default: the file's name "
      "without its extension)");
  CLI::App* firmwareList =
      firmwareCommand->add_subcommand("list", "each entry's description and file");
  CLI::App* firmwareRemove = firmwareCommand->add_subcommand(
      "remove", "unregister an entry, and delete its own copy of the file (as Delete does)");
  firmwareRemove->add_option("DESCRIPTION", firmwareOptions.description, "the entry")->required();
  for (CLI::App* command : {firmwareAdd, firmwareRemove}) {
    command->add_flag("--yes", firmwareOptions.yes, "answer Yes to the questions");
    command->add_option("--plugin", firmwareOptions.plugin,
                        "the device plug-in (default: DevKV70.so beside velmora)");
  }
  for (CLI::App* command : {firmwareAdd, firmwareList, firmwareRemove})
    AddRegistryOption(*command, registry);

  TraceShowOptions traceShow;
  HistoryOptions history;
  CLI::App* traceCommand = app.add_subcommand("trace", "read a wire trace back");
  CLI::App* traceShowCommand = AddTraceShowCommand(*traceCommand, traceShow);
  CLI::App* historyCommand = AddHistoryCommand(app, history);
  AddRegistryOption(*historyCommand, registry);
#ifndef _WIN32
  StationOptions station;
  station.plugin = plugin;
  CLI::App* stationCommand = AddStationCommand(app, station);
  AddRegistryOption(*stationCommand, registry);
#endif

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitSucceeded : kExitUsage;
  }

  if (!registry.empty()) {
    std::string error;
    if (!UseRegistry(registry, error)) {
      Complain(error);
      return kExitUsage;
    }
  }

  // With --json standard output is the events' alone.
  const bool jsonRun = *runCommand && json;
  Console console(0, jsonRun ? stderr : stdout);  // descriptor 0: standard input
  JsonEvents jsonEvents(stdout);
  int status = kExitFailed;
  if (*list) {
    status = ListCommand(plugin, console);
  } else if (*ports) {
    status = PortsCommand(console);
  } else if (*runCommand) {
    InstallInterruptHandler();
    kv70sim::RegisterInProcessBackend();
    run.plugin = plugin;
    if (runCommand->count("--device")) run.device = device;
    if (runCommand->count("--trace")) run.trace = trace;
    if (runCommand->count("--monitor-image")) run.monitorImage = monitorImage;
    if (runCommand->count("--firmware")) run.firmware = firmware;
    if (runCommand->count("--log-file")) run.logFile = logFile;
    if (runCommand->count("--give-up-after")) run.giveUpSeconds = giveUpAfter;
    if (jsonRun) run.json = &jsonEvents;
    if (runCommand->count("--ledger")) run.ledger = ledger;
    status = RunCommand(run, console);
    // Every way out ends the stream with its result, refusals before the run included.
    if (jsonRun && !jsonEvents.ResultWritten()) {
      jsonEvents.Result(status,
                        status == kExitSucceeded   ? "succeeded"
                        : status == kExitCancelled ? "cancelled"
                                                   : "failed",
                        std::nullopt);
    }
  } else if (*firmwareAdd) {
    status = FirmwareAddCommand(firmwareOptions, console);
  } else if (*firmwareList) {
    status = FirmwareListCommand(console);
  } else if (*firmwareRemove) {
    status = FirmwareRemoveCommand(firmwareOptions, console);
  } else if (*traceShowCommand) {
    status = TraceShowCommand(traceShow, console);
  } else if (*historyCommand) {
    status = HistoryCommand(history, console);
#ifndef _WIN32
  } else if (*stationCommand) {
    std::string error;
    if (station.config && !ApplyStationConfig(*stationCommand, *station.config, error)) {
      Complain(error);
      status = kExitUsage;
    } else {
      status = StationCommand(station, console);
    }
#endif
  } else if (*import) {
    status = RegistryImportCommand(importFile, console);
  } else if (*exportCommand) {
    status = RegistryExportCommand(exportFile, exportKey, exportUnicode, console);
  }
  std::fflush(nullptr);
  return status;
}
