// What a run shows: the host window's caption, each status text, and the progress.
// On a terminal the progress is a bar with percentage and elapsed time that redraws
// itself; otherwise every change is a plain line, so that logs read well.
#pragma once
#include <cstdint>
#include <string>

#include "host/core/run_session.h"
#include "host/core/text.h"
#include "host/terminal/console.h"

namespace velmora {

// "[##########..........]  50%  1:05"; positions above 100 show as 100, below 0 as 0.
std::string FormatProgressBar(long position, std::uint64_t elapsedMs, int width = 30);

class RunView : public RunObserver {
 public:
  explicit RunView(Console& console);

  void Start() override;  // the run begins: elapsed time counts from now
  void Caption(const std::string& caption) override;
  void Status(const std::string& text) override;
  void Progress(long position) override;
  void Tick() override;                           // redraws the elapsed time if possible
  void Notice(const std::string& text) override;  // a line of the host's own
  void Finish() override;                         // takes the bar away
  bool CancelWanted() override;  // a Ctrl-C or stop signal since Start; a second ends velmora

  // Whether a status text of the last run said that program flash was being erased.
  bool ProgramEraseSeen() const { return programEraseSeen_; }
  // The status that said the firmware file's completeness could not be checked; empty
  // when none did.
  const std::string& CompletenessNote() const { return completenessNote_; }

 private:
  std::uint64_t Elapsed() const;
  void Redraw();
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
  bool programEraseSeen_ = false;
  std::string completenessNote_;
  int interruptsAtStart_ = 0;
};

}  // namespace velmora
