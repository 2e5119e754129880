// velmora run --json: standard output carries JSON Lines events only, one object per
// line, each with an "event" field; scripts and the station read them. A stable
// contract: fields are only ever added. The start and result events carry "version".
//
//   {"event":"start","version":1,"operation":NAME,"port":N,"device":TEXT|null}
//   {"event":"input","field":"firmware"|"log_file","value":TEXT}
//   {"event":"device","serial":TEXT}   (once, when the line showed the serial number)
//   {"event":"status","text":TEXT}
//   {"event":"progress","position":N}
//   {"event":"box","text":TEXT,"answer":"OK"|"Yes"|"No"|...}
//   {"event":"warning","text":TEXT}
//   {"event":"result","version":1,"exit":N,"result":"succeeded"|"failed"|"cancelled",
//    "failure":{"number":N|null,"text":TEXT}|null,"serial":TEXT|null,"record":N|null}
// The result event is always the last line.
#pragma once
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

namespace velmora {

constexpr int kJsonEventsVersion = 1;

// `text` as a JSON string with its quotes. Bytes that are no UTF-8 are read as Latin-1,
// so the line stays valid JSON whatever a device sent.
std::string JsonQuoted(const std::string& text);

// One event's line, built field by field.
class JsonLine {
 public:
  explicit JsonLine(const std::string& event);
  JsonLine& Str(const char* key, const std::string& value);
  JsonLine& OptStr(const char* key, const std::optional<std::string>& value);
  JsonLine& Num(const char* key, long long value);
  JsonLine& Raw(const char* key, const std::string& json);
  std::string Text() const { return text_ + "}"; }

 private:
  std::string text_;
};

// Writes events to `out` (standard output), a whole line at a time, from any thread.
class JsonEvents {
 public:
  explicit JsonEvents(std::FILE* out) : out_(out) {}
  void Write(const JsonLine& line);
  void Status(const std::string& text) { Write(JsonLine("status").Str("text", text)); }
  void Progress(long position) { Write(JsonLine("progress").Num("position", position)); }
  void Warning(const std::string& text) { Write(JsonLine("warning").Str("text", text)); }
  // A message box and the answer taken; a failure box ("... [411] ...") is remembered for
  // the result.
  void Box(const std::string& text, const std::string& answer);
  // The last line; later calls write nothing.
  void Result(int exitStatus, const std::string& result, const std::optional<std::string>& serial,
              std::optional<long long> recordId = std::nullopt);
  bool ResultWritten() const;

 private:
  std::FILE* out_;
  mutable std::mutex mutex_;
  bool resultWritten_ = false;
  std::optional<int> failureNumber_;
  std::string failureText_;
};

}  // namespace velmora
