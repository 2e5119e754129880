// A station: many devices at once, one `velmora run --json` child per slot. The model
// holds each slot's state as its child's events report it; the terminal and the desktop
// show it, each in its own way.
#pragma once
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// One flat JSON object of an event line: strings, numbers, null and one level of nested
// objects (the result's failure), the values kept as text. Anything else is no event.
struct JsonObject {
  std::map<std::string, std::string> strings;  // string values, unescaped
  std::map<std::string, double> numbers;       // number values
  std::map<std::string, JsonObject> objects;   // nested objects
  bool Has(const std::string& key) const;
  std::string Str(const std::string& key) const;  // "" when absent or no string
  std::optional<double> Num(const std::string& key) const;
};
std::optional<JsonObject> ParseJsonObject(const std::string& line);

enum class SlotPhase { Idle, Waiting, Running, Succeeded, Failed, Cancelled };

// What "velmora run" says while it waits for the device to restart.
inline constexpr const char* kEstablishingText =
    "Establishing communication with the KV70. Please wait...";
inline constexpr const char* kWaitingText = "waiting for a KV70";

struct SlotState {
  std::string port;    // what --device takes
  std::string serial;  // once a result names it
  SlotPhase phase = SlotPhase::Idle;
  std::string status;              // the child's last status text
  int progress = 0;                // 0..100 in the current status
  std::optional<int> secondsLeft;  // the current status's estimate
  std::string failure;             // why the slot failed, for the table
  std::string question;            // a question answered No (without --yes)
  std::string logFile;             // the final name of the dump's file
  int exitStatus = -1;             // the child's exit status
  int devicesDone = 0;             // --repeat: runs that ended
  double startSeconds = 0;         // the run's start, station clock
  double endSeconds = 0;           // its end
  bool repeating = false;          // --repeat: the slot goes on after a result
  bool deviceAnswered = false;     // the device got past the wait for its restart
  // For the estimate: when the status's progress was first above 0.
  double progressSince = 0;
  int progressAt = 0;
};

const char* PhaseText(SlotPhase phase);

class StationModel {
 public:
  int Add(const std::string& port);
  void Remove(int slot);
  int Count() const { return static_cast<int>(slots_.size()); }
  const SlotState& Slot(int slot) const { return slots_[static_cast<std::size_t>(slot)]; }
  SlotState& MutableSlot(int slot) { return slots_[static_cast<std::size_t>(slot)]; }

  // A new run starts in the slot at `now` (seconds on the station's clock).
  void Started(int slot, double now);
  // One line of the slot's child; false when it is no event.
  bool Apply(int slot, const std::string& line, double now);
  // The child ended with `exitStatus` (after its last line); `stderrTail` its last
  // words for a child that wrote no result (it died, or refused its options).
  void Ended(int slot, int exitStatus, const std::string& stderrTail, double now);
  // The slot's text for the status column: "waiting for a KV70" while a device is awaited.
  std::string StatusText(int slot) const;
  // The station's exit status: 2 when cancelled, 1 when any run failed (or a slot never
  // ran), 0 otherwise.
  int ExitStatus(bool cancelled) const;

  // Every run that ended, in the order they ended, with its slot: the closing table.
  struct FinishedRun {
    int slot;
    SlotState state;
  };
  std::vector<FinishedRun> finished;

 private:
  std::vector<SlotState> slots_;
};

// "[#####     ]" of `width` cells inside the brackets.
std::string ProgressBar(int percent, int width);
// "1:05" for 65 s; "" for none.
std::string ClockText(std::optional<int> seconds);

}  // namespace velmora
