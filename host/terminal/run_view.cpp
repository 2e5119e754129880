#include "host/terminal/run_view.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "host/core/exit_codes.h"
#include "host/core/run_warnings.h"
#include "host/terminal/interrupts.h"
#include "platform/clock.h"

namespace velmora {

std::string FormatProgressBar(long position, std::uint64_t elapsedMs, int width) {
  const int percent = ClampPercent(position);
  const int filled = width * percent / 100;
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '.');
  char tail[48];
  std::snprintf(tail, sizeof tail, "] %3d%%  %s", percent, FormatElapsed(elapsedMs).c_str());
  return bar + tail;
}

RunView::RunView(Console& console) : console_(console) {}

void RunView::PrintLine(const std::string& line) {
  FlushRepeats();
  lastLineWasStatus_ = false;
  console_.PrintLine(line);
}

void RunView::FlushRepeats() {
  if (repeats_ == 0) return;
  const unsigned long repeats = repeats_;
  repeats_ = 0;
  console_.PrintLine(RepeatLine(lastStatus_, repeats));
}

std::uint64_t RunView::Elapsed() const {
  const std::uint64_t now = platform::GetClock().NowMs();
  return now > startMs_ ? now - startMs_ : 0;
}

void RunView::Start() {
  interruptsAtStart_ = InterruptCount();
  startMs_ = platform::GetClock().NowMs();
  haveProgress_ = false;
  position_ = 0;
  lastPrinted_ = -1;
  lastStatus_.clear();
  lastLineWasStatus_ = false;
  repeats_ = 0;
  programEraseSeen_ = false;
  completenessNote_.clear();
}

void RunView::Redraw() {
  if (haveProgress_) console_.ShowTransient(FormatProgressBar(position_, Elapsed()));
}

void RunView::Caption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  if (!caption.empty()) PrintLine("== " + caption + " ==");
}

void RunView::Status(const std::string& text) {
  if (MarksProgramErase(text)) programEraseSeen_ = true;
  if (MarksUncheckedCompleteness(text)) completenessNote_ = text;
  if (lastLineWasStatus_ && text == lastStatus_) {
    ++repeats_;
    return;
  }
  FlushRepeats();
  lastStatus_ = text;
  lastLineWasStatus_ = true;
  // A status text may run over several lines; each gets its own output line.
  std::istringstream lines(text);
  std::string line;
  bool any = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    console_.PrintLine(line);
    any = true;
  }
  if (!any) console_.PrintLine("");
}

void RunView::Progress(long position) {
  position_ = position;
  haveProgress_ = true;
  if (console_.OutputIsTerminal()) {
    Redraw();
    return;
  }
  const int percent = ClampPercent(position);
  if (percent == lastPrinted_) return;
  lastPrinted_ = percent;
  PrintLine("progress " + std::to_string(percent) + "%");
}

void RunView::Tick() {
  if (haveProgress_ && console_.OutputIsTerminal()) {
    console_.TryShowTransient(FormatProgressBar(position_, Elapsed()));
  }
}

void RunView::Notice(const std::string& text) {
  PrintLine(text);
}

void RunView::Finish() {
  FlushRepeats();
  lastLineWasStatus_ = false;
  if (haveProgress_ && console_.OutputIsTerminal()) {
    // Leave the last state of the bar in the scrollback.
    console_.ClearTransient();
    console_.PrintLine(FormatProgressBar(position_, Elapsed()));
  }
  haveProgress_ = false;
}

bool RunView::CancelWanted() {
  const int signals = InterruptCount() - interruptsAtStart_;
  if (signals >= 2) {
    // The first asked the run to stop at its next safe point; whoever sends a second will
    // not wait for it. Written past the console's lock, which a question may hold.
    std::fputs("\nvelmora: stopped at your request; the device may need a restart.\n", stdout);
    std::fflush(nullptr);
    std::_Exit(kExitCancelled);
  }
  return signals != 0;
}

}  // namespace velmora
