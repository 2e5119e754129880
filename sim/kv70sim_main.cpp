// kv70sim: the simulated KV70 as a program, served on a pseudo-terminal.
#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>

#include "platform/clock.h"
#include "sim/device.h"
#include "sim/pty_server.h"
#include "sim/settings.h"

namespace {

std::atomic<bool> gStop{false};

void OnSignal(int) { gStop.store(true); }

constexpr const char* kFooter = R"(
A pseudo-terminal carries no break. The boot ROM's breaks cannot reach the PC, so a
loader that answers them never hears the device restart. Serve it with state=rom (the
ROM monitor already identified: a loader that probes after waiting in vain for a break
goes through the whole bootstrap) or state=monitor (a flash monitor left running at
38400 bit/s). Breaks sent by the PC are likewise lost. The device follows the line
speed and format the PC sets on the terminal; a mismatch garbles bytes both ways.

Faults (each a setting): pull, pull-ms, noise, foreign, bad-checksum,
bad-checksum-rate, erase-busy, program-refuse, monitor-silent, config-len.
Every random choice follows seed. kv70sim serves in real time until it gets SIGINT or
SIGTERM, then writes prog-out and fs-out.)";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kv70sim: a simulated KV70 data collector on a pseudo-terminal.\n"
               "Settings are given as KEY=VALUE,... arguments or as --KEY VALUE options."};
  app.footer(kFooter);
  bool pty = false;
  app.add_flag("--pty", pty, "serve the device on a new pseudo-terminal and print its path");
  std::vector<std::string> positional;
  app.add_option("settings", positional, "settings as key=value,key=value");
  std::map<std::string, std::vector<std::string>> options;
  for (const auto& row : kv70sim::SettingTable()) {
    app.add_option(std::string("--") + row.key, options[row.key], row.help)->type_name(row.form);
  }
  CLI11_PARSE(app, argc, argv);

  kv70sim::Settings settings;
  try {
    std::string joined;
    for (const auto& p : positional) joined += (joined.empty() ? "" : ",") + p;
    settings = kv70sim::Settings::Parse(joined);
    for (const auto& row : kv70sim::SettingTable())
      for (const auto& value : options[row.key]) settings.Apply(row.key, value);
  } catch (const kv70sim::SettingsError& e) {
    std::cerr << "kv70sim: " << e.what() << "\n";
    return 2;
  }
  if (!pty) {
    std::cerr << "kv70sim: nothing to do; give --pty (see --help)\n";
    return 2;
  }

  try {
    kv70sim::PtyServer server;
    platform::SystemClock clock;
    kv70sim::Device device(settings, clock.NowUs() * 1000);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::cout << server.SlavePath() << std::endl;
    server.Serve(device, gStop, [] {
      std::cerr << "kv70sim: the device sent a break, which a pseudo-terminal cannot carry\n";
    });
    std::lock_guard lock(device.Mutex());
    device.SaveOutputs();
  } catch (const kv70sim::SettingsError& e) {
    std::cerr << "kv70sim: " << e.what() << "\n";
    return 1;
  } catch (const std::system_error& e) {
    std::cerr << "kv70sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
