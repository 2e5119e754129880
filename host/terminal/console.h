// The terminal (or whatever stdin and stdout are): one lock for everything written, so
// that a message box from a run's worker thread and the progress line drawn by the main
// thread never mix, a transient bottom line for the progress bar, and line input that
// wakes up on Ctrl-C.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>

namespace velmora {

class Console {
 public:
  enum class Read { Line, End, Interrupted };

  Console(int inputFd, std::FILE* output);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  bool InputIsTerminal() const { return inputTerminal_; }
  bool OutputIsTerminal() const { return outputTerminal_; }

  // Held by whoever needs several writes and reads to stay together (a message box).
  std::recursive_mutex& Mutex() { return mutex_; }

  // Writes the text and a line end (the transient line is put back below it).
  void PrintLine(const std::string& text);
  // The progress line: drawn over itself on a terminal; ignored otherwise.
  void ShowTransient(const std::string& line);
  void ClearTransient();
  // Draws the transient line only if nobody holds the console (periodic refreshes must
  // not wait for a user who is answering a question).
  bool TryShowTransient(const std::string& line);

  // Writes the prompt and reads one line (without its line end). Interrupted when a
  // Ctrl-C arrived while waiting; End at the end of input.
  Read ReadLine(const std::string& prompt, std::string& line);
  // The same, Interrupted also by a Ctrl-C that came after the caller last looked at
  // the count (`interruptsSeen`), even before this read began: one that lands between
  // two reads must not be lost.
  Read ReadLine(const std::string& prompt, std::string& line, int interruptsSeen);

 private:
  void EraseTransient();
  void DrawTransient();
  void EraseLine();

  int inputFd_;
  std::FILE* output_;
  bool inputTerminal_;
  bool outputTerminal_;
  std::recursive_mutex mutex_;
  std::string transient_;
  bool transientShown_ = false;
  bool dumbTerminal_ = false;   // TERM=dumb: no control sequences
  std::size_t shownWidth_ = 0;  // characters of the transient line on the screen
};

}  // namespace velmora
