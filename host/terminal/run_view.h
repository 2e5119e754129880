// What a run shows: the host window's caption, each status text, and the progress.
// On a terminal the progress is a bar with percentage and elapsed time that redraws
// itself; otherwise every change is a plain line, so that logs read well.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "host/core/run_progress.h"
#include "host/core/run_session.h"
#include "host/core/text.h"
#include "host/terminal/console.h"

namespace velmora {

// "[##########..........]  50%  1:05"; positions above 100 show as 100, below 0 as 0.
// A detail ("0:42 left  384 of 1,024 KiB", "cancelled") follows after two spaces.
std::string FormatProgressBar(long position, std::uint64_t elapsedMs, int width = 30,
                              const std::string& detail = "");

class RunView : public RunObserver {
 public:
  explicit RunView(Console& console);

  void Start() override;  // the run begins: elapsed time counts from now
  void Caption(const std::string& caption) override;
  void Status(const std::string& text) override;
  void Progress(long position) override;
  void Tick() override;                                // redraws the elapsed time if possible
  bool WantsTicks() override;                          // only a terminal shows the time going by
  void WakeWith(std::function<void()> wake) override;  // a Ctrl-C wakes the run's pump
  void Notice(const std::string& text) override;       // a line of the host's own
  void Finish() override;                              // takes the bar away
  bool CancelWanted() override;  // a Ctrl-C or stop signal since Start; a second ends velmora

  // The file the run writes (a dump's log file), whose bytes the bar shows.
  void SetOutputFile(const std::string& path) { outputFile_ = path; }
  // After Finish, with the run's result: on a terminal the bar's last state stays in the
  // scrollback, saying "cancelled" or "failed" when the run did not succeed.
  void Ended(int result, bool gaveUp);

  // The status that said the firmware file's completeness could not be checked; empty
  // when none did.
  const std::string& CompletenessNote() const { return completenessNote_; }

 private:
  std::uint64_t Elapsed() const;
  void Redraw();
  std::string Bar() const;
  void PrintLine(const std::string& line);
  // A status text repeated without anything between is printed once, and its count when
  // something else comes: a line of a script's log for each retry would bury the rest.
  void FlushRepeats();

  Console& console_;
  std::uint64_t startMs_ = 0;
  bool haveProgress_ = false;
  long position_ = 0;
  int lastPrinted_ = -1;
  std::string caption_;
  std::string lastStatus_;
  bool lastLineWasStatus_ = false;
  unsigned long repeats_ = 0;
  std::string completenessNote_;
  int interruptsAtStart_ = 0;
  std::string outputFile_;
  RunProgress estimate_;
  bool barPending_ = false;  // Finish took the bar away; Ended puts its last state back
  std::uint64_t finalElapsed_ = 0;
};

}  // namespace velmora
