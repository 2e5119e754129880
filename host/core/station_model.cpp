#include "host/core/station_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/core/exit_codes.h"

namespace velmora {

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  bool Object(JsonObject& out, int depth) {
    Space();
    if (!Take('{')) return false;
    Space();
    if (Take('}')) return true;
    for (;;) {
      std::string key;
      Space();
      if (!String(key)) return false;
      Space();
      if (!Take(':')) return false;
      Space();
      if (Peek() == '"') {
        std::string value;
        if (!String(value)) return false;
        out.strings[key] = value;
      } else if (Peek() == '{') {
        if (depth > 0) return false;
        JsonObject inner;
        if (!Object(inner, depth + 1)) return false;
        out.objects[key] = inner;
      } else if (s_.compare(i_, 4, "null") == 0) {
        i_ += 4;
      } else if (s_.compare(i_, 4, "true") == 0) {
        i_ += 4;
        out.numbers[key] = 1;
      } else if (s_.compare(i_, 5, "false") == 0) {
        i_ += 5;
        out.numbers[key] = 0;
      } else {
        const char* begin = s_.c_str() + i_;
        char* end = nullptr;
        const double value = std::strtod(begin, &end);
        if (end == begin || !std::isfinite(value)) return false;
        i_ += static_cast<std::size_t>(end - begin);
        out.numbers[key] = value;
      }
      Space();
      if (Take('}')) return true;
      if (!Take(',')) return false;
    }
  }

  bool AtEnd() {
    Space();
    return i_ == s_.size();
  }

 private:
  char Peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n'))
      ++i_;
  }
  static void Utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool Hex4(unsigned& code) {
    if (i_ + 4 > s_.size()) return false;
    code = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[i_++];
      code <<= 4;
      if (c >= '0' && c <= '9')
        code |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        code |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        code |= static_cast<unsigned>(c - 'A' + 10);
      else
        return false;
    }
    return true;
  }
  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          unsigned code = 0;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00 && s_.compare(i_, 2, "\\u") == 0) {
            i_ += 2;
            unsigned low = 0;
            if (!Hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;  // a lone surrogate
          }
          Utf8(out, code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

}  // namespace

bool JsonObject::Has(const std::string& key) const {
  return strings.count(key) || numbers.count(key) || objects.count(key);
}

std::string JsonObject::Str(const std::string& key) const {
  const auto it = strings.find(key);
  return it == strings.end() ? std::string() : it->second;
}

std::optional<double> JsonObject::Num(const std::string& key) const {
  const auto it = numbers.find(key);
  if (it == numbers.end()) return std::nullopt;
  return it->second;
}

std::optional<JsonObject> ParseJsonObject(const std::string& line) {
  JsonObject out;
  Parser parser(line);
  if (!parser.Object(out, 0) || !parser.AtEnd()) return std::nullopt;
  return out;
}

const char* PhaseText(SlotPhase phase) {
  switch (phase) {
    case SlotPhase::Idle:
      return "idle";
    case SlotPhase::Waiting:
      return "waiting";
    case SlotPhase::Running:
      return "running";
    case SlotPhase::Succeeded:
      return "succeeded";
    case SlotPhase::Failed:
      return "failed";
    case SlotPhase::Cancelled:
      return "cancelled";
  }
  return "";
}

int StationModel::Add(const std::string& port) {
  SlotState slot;
  slot.port = port;
  slots_.push_back(slot);
  return Count() - 1;
}

void StationModel::Remove(int slot) {
  if (slot >= 0 && slot < Count()) slots_.erase(slots_.begin() + slot);
}

void StationModel::Started(int index, double now) {
  SlotState& slot = MutableSlot(index);
  const std::string port = slot.port;
  const int done = slot.devicesDone;
  const bool repeating = slot.repeating;
  slot = SlotState{};
  slot.port = port;
  slot.devicesDone = done;
  slot.repeating = repeating;
  slot.phase = repeating ? SlotPhase::Waiting : SlotPhase::Running;
  slot.startSeconds = now;
  slot.progressSince = now;
}

bool StationModel::Apply(int index, const std::string& line, double now) {
  const std::optional<JsonObject> event = ParseJsonObject(line);
  if (!event) return false;
  SlotState& slot = MutableSlot(index);
  const std::string kind = event->Str("event");
  if (kind == "status") {
    const std::string text = event->Str("text");
    if (text != slot.status) {
      slot.status = text;
      slot.progress = 0;
      slot.secondsLeft.reset();
      slot.progressSince = now;
      slot.progressAt = 0;
    }
    // A repeating slot waits for the next device until this one answers.
    if (slot.phase == SlotPhase::Waiting && text != kEstablishingText) {
      slot.phase = SlotPhase::Running;
      slot.deviceAnswered = true;
    }
  } else if (kind == "progress") {
    const int position = static_cast<int>(event->Num("position").value_or(0));
    if (slot.phase == SlotPhase::Waiting && position > 0) {
      slot.phase = SlotPhase::Running;
      slot.deviceAnswered = true;
    }
    if (position < slot.progress) {
      slot.progressSince = now;
      slot.progressAt = position;
    } else if (slot.progress == 0 && position > 0) {
      slot.progressSince = now;
      slot.progressAt = position;
    }
    slot.progress = position < 0 ? 0 : position > 100 ? 100 : position;
    const double spent = now - slot.progressSince;
    const int gained = slot.progress - slot.progressAt;
    if (gained > 0 && spent > 0) {
      slot.secondsLeft = static_cast<int>(std::lround(spent * (100 - slot.progress) / gained));
    } else if (slot.progress >= 100) {
      slot.secondsLeft = 0;
    }
  } else if (kind == "device") {
    slot.serial = event->Str("serial");
  } else if (kind == "box") {
    // A question nobody saw: the answer velmora took without a terminal.
    if (event->Str("answer") == "No") slot.question = event->Str("text");
  } else if (kind == "result") {
    if (!event->Str("serial").empty()) slot.serial = event->Str("serial");
    const std::string result = event->Str("result");
    slot.exitStatus = static_cast<int>(event->Num("exit").value_or(kExitFailed));
    slot.phase = result == "succeeded"   ? SlotPhase::Succeeded
                 : result == "cancelled" ? SlotPhase::Cancelled
                                         : SlotPhase::Failed;
    const auto failure = event->objects.find("failure");
    if (failure != event->objects.end()) slot.failure = failure->second.Str("text");
    if (slot.phase == SlotPhase::Failed && !slot.question.empty())
      slot.failure = "question answered No: " + slot.question;
    if (slot.phase == SlotPhase::Failed && slot.failure.empty()) slot.failure = slot.status;
    slot.endSeconds = now;
  } else if (kind == "warning") {
    // Given up, a port that did not open: the reason the run ended.
    if (slot.failure.empty()) slot.failure = event->Str("text");
  }
  return true;
}

void StationModel::Ended(int index, int exitStatus, const std::string& stderrTail, double now) {
  SlotState& slot = MutableSlot(index);
  ++slot.devicesDone;
  if (slot.phase == SlotPhase::Running || slot.phase == SlotPhase::Waiting ||
      slot.phase == SlotPhase::Idle) {
    // No result line: the child died, or refused its options before the run.
    slot.phase = exitStatus == kExitCancelled ? SlotPhase::Cancelled : SlotPhase::Failed;
    slot.failure = slot.phase == SlotPhase::Cancelled ? ""
                   : !stderrTail.empty()              ? stderrTail
                   : exitStatus < 0                   ? "velmora ended without a result"
                                    : "velmora ended with status " + std::to_string(exitStatus) +
                                          " without a result";
    slot.endSeconds = now;
  } else if (slot.phase == SlotPhase::Failed && slot.failure.empty()) {
    // A result without a reason: velmora refused its options and said why on stderr.
    slot.failure = stderrTail;
  }
  slot.exitStatus = exitStatus;
}

std::string StationModel::StatusText(int index) const {
  const SlotState& slot = Slot(index);
  switch (slot.phase) {
    case SlotPhase::Idle:
      return "";
    case SlotPhase::Waiting:
      return kWaitingText;
    case SlotPhase::Running:
      return slot.status;
    case SlotPhase::Succeeded:
      return "succeeded";
    case SlotPhase::Cancelled:
      return "cancelled";
    case SlotPhase::Failed:
      return "failed: " + slot.failure;
  }
  return "";
}

int StationModel::ExitStatus(bool cancelled) const {
  if (cancelled) return kExitCancelled;
  for (const FinishedRun& run : finished)
    if (run.state.phase != SlotPhase::Succeeded) return kExitFailed;
  for (const SlotState& slot : slots_)
    if (slot.devicesDone == 0) return kExitFailed;
  return kExitSucceeded;
}

std::string ProgressBar(int percent, int width) {
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  const int filled = percent * width / 100;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), ' ') + "]";
}

std::string ClockText(std::optional<int> seconds) {
  if (!seconds || *seconds < 0) return "";
  const int s = *seconds;
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
  return text;
}

}  // namespace velmora
