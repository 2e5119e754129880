#include "host/terminal/run_view.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <utility>

#include "host/core/exit_codes.h"
#include "host/core/run_warnings.h"
#include "host/terminal/interrupts.h"
#include "platform/clock.h"

namespace velmora {

std::string FormatProgressBar(long position, std::uint64_t elapsedMs, int width,
                              const std::string& detail) {
  const int percent = ClampPercent(position);
  const int filled = width * percent / 100;
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '.');
  char tail[48];
  std::snprintf(tail, sizeof tail, "] %3d%%  %s", percent, FormatElapsed(elapsedMs).c_str());
  return bar + tail + (detail.empty() ? "" : "  " + detail);
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
  estimate_.Start(startMs_);
  barPending_ = false;
  haveProgress_ = false;
  position_ = 0;
  lastPrinted_ = -1;
  lastStatus_.clear();
  lastLineWasStatus_ = false;
  repeats_ = 0;
  completenessNote_.clear();
}

void RunView::Redraw() {
  if (haveProgress_) console_.ShowTransient(Bar());
}

std::string RunView::Bar() const {
  return FormatProgressBar(position_, Elapsed(), 30,
                           estimate_.Detail(platform::GetClock().NowMs()));
}

void RunView::Caption(const std::string& caption) {
  if (caption == caption_) return;
  caption_ = caption;
  if (!caption.empty()) PrintLine("== " + caption + " ==");
}

void RunView::Status(const std::string& text) {
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
  std::optional<std::uint64_t> bytes;
  if (!outputFile_.empty()) {
    // The run waits while its position is handled: the file holds what it counts.
    std::error_code error;
    const auto size = std::filesystem::file_size(outputFile_, error);
    if (!error) bytes = static_cast<std::uint64_t>(size);
  }
  estimate_.Position(position, platform::GetClock().NowMs(), bytes);
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
    console_.TryShowTransient(Bar());
  }
}

bool RunView::WantsTicks() {
  return console_.OutputIsTerminal();
}

void RunView::WakeWith(std::function<void()> wake) {
  SetInterruptWake(std::move(wake));
}

void RunView::Notice(const std::string& text) {
  PrintLine(text);
}

void RunView::Finish() {
  SetInterruptWake(nullptr);
  FlushRepeats();
  lastLineWasStatus_ = false;
  if (haveProgress_ && console_.OutputIsTerminal()) {
    // The bar's last state goes to the scrollback once the result is known (Ended).
    console_.ClearTransient();
    barPending_ = true;
    finalElapsed_ = Elapsed();
  }
  haveProgress_ = false;
}

void RunView::Ended(int result, bool gaveUp) {
  if (!barPending_) return;
  barPending_ = false;
  std::string detail = EndedBarWord(result, gaveUp);
  if (const auto bytes = estimate_.OutputBytes()) {
    detail += (detail.empty() ? "" : "  ") + FormatKiB(*bytes, estimate_.OutputTotal());
  }
  console_.PrintLine(FormatProgressBar(position_, finalElapsed_, 30, detail));
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
