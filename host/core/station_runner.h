// A station's slots as child processes: each run is `velmora run OPERATION --device PORT
// --json ...` in a process (and process group) of its own, so that one device's fault,
// hang or crash touches no other slot, and a Ctrl-C at the terminal reaches the station
// alone, which cancels each child once. The runner reads the children's event lines and
// feeds the model; the front end drives it with Poll().
#pragma once
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/core/station_model.h"

namespace velmora {

struct StationSettings {
  std::string velmora;                  // the executable the children run
  std::string operation;                // as `velmora run` takes it
  std::vector<std::string> runOptions;  // passed to every child (--firmware, --yes, ...)
  std::optional<std::string> logDir;    // dumps: the folder of the slots' log files
  std::optional<std::string> traceDir;  // each run's wire trace goes here
  bool repeat = false;                  // the next device on the same port, and again
  int count = 0;                        // --repeat: devices per slot; 0: until stopped
};

// The file name a dump gets: SERIAL-YYYYmmdd-HHMMSS.log, the serial (or, when none could
// be read, the port's name) with anything but letters, digits, '.', '_' and '-' made '_'.
std::string StationLogName(const std::string& serialOrPort, long long unixSeconds);
// Gives `temp` its final name `name` in `dir` without replacing anything: "-1", "-2", ...
// before ".log" on a clash. The final path, or "" with `error` set.
std::string PlaceLogFile(const std::string& temp, const std::string& dir, const std::string& name,
                         std::string& error);

class StationRunner {
 public:
  StationRunner(StationModel& model, StationSettings settings);
  ~StationRunner();
  StationRunner(const StationRunner&) = delete;
  StationRunner& operator=(const StationRunner&) = delete;

  // Every line a child writes, after the model took it (the slot's index, the line).
  std::function<void(int, const std::string&)> onLine;
  // A slot's run ended (the model holds its result and log file).
  std::function<void(int)> onEnded;

  // Starts a run in the slot unless one is going (`now`: the station's clock in seconds);
  // false with `error` when it cannot.
  bool Start(int slot, double now, std::string& error);
  // Cancels the slot's run through velmora's own cancel (SIGINT); a slot that repeats stops
  // after it. A second Stop ends the child at once (SIGTERM twice).
  void Stop(int slot);
  void StopAll();
  // Slots are added to and removed from the model through the runner.
  int AddSlot(const std::string& port);
  // Only a slot without a run; false otherwise.
  bool RemoveSlot(int slot);
  bool Running(int slot) const;
  bool AnyRunning() const;
  // Reads what the children wrote, waiting at most `timeoutMs` (and for `extraFd` too,
  // when it is >= 0); reaps the ended ones and starts repeating slots again. `now`: the
  // station's clock in seconds.
  void Poll(int timeoutMs, int extraFd, const std::function<double()>& now);

 private:
  struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    std::string outBuffer;
    std::string errTail;
    bool errOwn = false;  // errTail is one of velmora's own messages ("velmora: ...")
    std::string errBuffer;
    std::string tempLog;
    long long started = 0;  // wall clock, for the log's name
    int stops = 0;
    bool stopWanted = false;
  };
  void ReadFrom(int slot, Child& child, int fd, double now);
  void Finish(int slot, Child& child, int status, double now);

  StationModel& model_;
  StationSettings settings_;
  std::vector<Child> children_;
  unsigned serial_ = 0;
};

// The absolute path of the running executable ("" when it cannot be read).
std::string OwnExecutable();

}  // namespace velmora
