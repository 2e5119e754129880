// kv70sim: the simulated KV70 as a program, served on a pseudo-terminal.
#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>

#include "platform/clock.h"
#include "project_version.h"
#include "sim/device.h"
#include "sim/pty_server.h"
#include "sim/rfc2217_server.h"
#include "sim/settings.h"

namespace {

std::atomic<bool> gStop{false};

void OnSignal(int) {
  gStop.store(true);
}

constexpr const char* kFooter = R"(
A pseudo-terminal carries no break. The boot ROM's breaks cannot reach the PC, so a
loader that answers them never hears the device restart. Serve it with state=rom (the
ROM monitor already identified: a loader that probes after waiting in vain for a break
goes through the whole bootstrap) or state=monitor (a flash monitor left running at
38400 bit/s). Breaks sent by the PC are likewise lost. The device follows the line
speed and format the PC sets on the terminal; a mismatch garbles bytes both ways.

--rfc2217 [HOST:]PORT serves the device over the network with RFC 2217 instead (HOST
defaults to 127.0.0.1; PORT 0 picks a free port); the address is printed when it
listens. Every new client restarts the device, as a technician restarts it when the
loader waits for it (boot-ms sets how soon the first break follows). That line carries breaks both ways: the boot ROM's breaks reach the client as
break notifications and the client's breaks reach the device. --speedup N runs the
device N times faster than real time, in either mode (a short test of a long transfer).

Faults (each a setting): pull, pull-ms, noise, foreign, bad-checksum,
bad-checksum-rate, erase-busy, program-refuse, monitor-silent, config-len.
Every random choice follows seed. kv70sim serves in real time until it gets SIGINT or
SIGTERM, then writes prog-out and fs-out.)";

void CatchStopSignals() {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}

int ServeRfc2217(const kv70sim::Settings& settings, const std::string& address, unsigned speedup) {
  try {
    kv70sim::Rfc2217Server server(address);
    platform::SystemClock clock;
    kv70sim::Device device(settings, clock.NowUs() * 1000);
    CatchStopSignals();
    std::cout << server.Address() << std::endl;
    server.Serve(device, gStop, speedup, [](std::uint64_t ms) {
      std::cerr << "kv70sim: break from the PC, " << ms << " ms" << std::endl;
    });
    std::lock_guard lock(device.Mutex());
    device.SaveOutputs();
  } catch (const std::invalid_argument& e) {
    std::cerr << "kv70sim: --rfc2217: " << e.what() << "\n";
    return 2;
  } catch (const kv70sim::SettingsError& e) {
    std::cerr << "kv70sim: " << e.what() << "\n";
    return 1;
  } catch (const std::system_error& e) {
    std::cerr << "kv70sim: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "kv70sim: a simulated KV70 data collector on a pseudo-terminal.\n"
      "Settings are given as KEY=VALUE,... arguments or as --KEY VALUE options."};
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("kv70sim ") + VELMORA_VERSION,
                       "print kv70sim's version and end");
  bool pty = false;
  app.add_flag("--pty", pty, "serve the device on a new pseudo-terminal and print its path");
  std::string rfc2217;
  app.add_option("--rfc2217", rfc2217,
                 "serve the device over RFC 2217 on [HOST:]PORT and print the address")
      ->type_name("[HOST:]PORT");
  unsigned speedup = 1;
  app.add_option("--speedup", speedup, "device time runs N times faster than real time")
      ->check(CLI::Range(1u, 1000u));
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
  if (!pty && rfc2217.empty()) {
    std::cerr << "kv70sim: nothing to do; give --pty or --rfc2217 (see --help)\n";
    return 2;
  }
  if (pty && !rfc2217.empty()) {
    std::cerr << "kv70sim: give one of --pty and --rfc2217\n";
    return 2;
  }
  if (!rfc2217.empty()) return ServeRfc2217(settings, rfc2217, speedup);

  try {
    kv70sim::PtyServer server;
    platform::SystemClock clock;
    kv70sim::Device device(settings, clock.NowUs() * 1000);
    CatchStopSignals();
    std::cout << server.SlavePath() << std::endl;
    server.Serve(
        device, gStop,
        [] {
          std::cerr << "kv70sim: the device sent a break, which a pseudo-terminal cannot carry\n";
        },
        speedup);
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
