#include "host/core/json_events.h"

#include <cstdlib>

#include "host/core/message_box_text.h"

namespace velmora {

namespace {

// Length of the valid UTF-8 sequence at s[i], 0 when there is none.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  const std::size_t n = c < 0x80           ? 1
                        : (c >> 5) == 0x06 ? 2
                        : (c >> 4) == 0x0E ? 3
                        : (c >> 3) == 0x1E ? 4
                                           : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  if (n == 2 && c < 0xC2) return 0;  // over-long
  return n;
}

}  // namespace

std::string JsonQuoted(const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
      ++i;
    } else if (const std::size_t n = c >= 0x20 && c != 0x7F ? Utf8Length(s, i) : 0; n > 0) {
      out.append(s, i, n);
      i += n;
    } else {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
      ++i;
    }
  }
  return out + "\"";
}

JsonLine::JsonLine(const std::string& event) : text_("{\"event\":" + JsonQuoted(event)) {}

JsonLine& JsonLine::Str(const char* key, const std::string& value) {
  return Raw(key, JsonQuoted(value));
}

JsonLine& JsonLine::OptStr(const char* key, const std::optional<std::string>& value) {
  return Raw(key, value ? JsonQuoted(*value) : "null");
}

JsonLine& JsonLine::Num(const char* key, long long value) {
  return Raw(key, std::to_string(value));
}

JsonLine& JsonLine::Raw(const char* key, const std::string& json) {
  text_ += ",\"";
  text_ += key;
  text_ += "\":";
  text_ += json;
  return *this;
}

void JsonEvents::Write(const JsonLine& line) {
  std::lock_guard lock(mutex_);
  if (resultWritten_) return;
  const std::string text = line.Text() + "\n";
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void JsonEvents::Box(const std::string& text, const std::string& answer) {
  Write(JsonLine("box").Str("text", text).Str("answer", answer));
  // A failure box names its number in brackets: "Read config failure! [411] - ...".
  if (const std::optional<ShownFailure> failure = FailureInBox(text)) {
    std::lock_guard lock(mutex_);
    failureNumber_ = failure->number;
    failureText_ = failure->text;
  }
}

void JsonEvents::Result(int exitStatus, const std::string& result,
                        const std::optional<std::string>& serial,
                        std::optional<long long> recordId) {
  JsonLine line("result");
  line.Num("version", kJsonEventsVersion).Num("exit", exitStatus).Str("result", result);
  {
    std::lock_guard lock(mutex_);
    if (result != "succeeded" && (failureNumber_ || !failureText_.empty())) {
      line.Raw("failure",
               "{\"number\":" + (failureNumber_ ? std::to_string(*failureNumber_) : "null") +
                   ",\"text\":" + JsonQuoted(failureText_) + "}");
    } else {
      line.Raw("failure", "null");
    }
  }
  line.OptStr("serial", serial);
  line.Raw("record", recordId ? std::to_string(*recordId) : "null");
  Write(line);
  std::lock_guard lock(mutex_);
  resultWritten_ = true;
}

bool JsonEvents::ResultWritten() const {
  std::lock_guard lock(mutex_);
  return resultWritten_;
}

}  // namespace velmora
