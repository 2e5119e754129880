#include "host/core/trace_annotation.h"

#include <cstdio>

namespace velmora {

namespace {

constexpr std::size_t kShortBytes = 32;  // bytes shown of a frame that did not count
constexpr const char* kIndent = "                    ";

std::string Hex(std::span<const std::uint8_t> bytes, std::size_t max) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  const std::size_t n = std::min(bytes.size(), max);
  s.reserve(n * 3 + 4);
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 0x0F];
  }
  if (n < bytes.size()) s += " ...";
  return s;
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

std::string Hex8(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

std::string Month(std::uint16_t index) {
  if (index == 0xFFFF) return "not installed";
  if (index == 0) return "month 0";
  int year = index / 12 + 1997, month = index % 12;
  if (month == 0) {
    month = 12;
    --year;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d", year, month);
  return text;
}

std::string Numbers(const DeviceRecord& r) {
  return "Info0 " + std::to_string(r.info0) + ", Info1 " + std::to_string(r.info1) +
         ", FlashType " + std::to_string(r.flashType) + ", Info3 " + std::to_string(r.info3) +
         ", FileSystemMb " + std::to_string(r.fileSystemMb) + ", ApplicationId " +
         std::to_string(r.applicationId);
}

std::string Options(const DeviceRecord& r) {
  std::string s;
  for (int o : r.installedOptions) s += (s.empty() ? "" : " ") + std::to_string(o);
  return s.empty() ? "none" : s;
}

std::string Application(const ApplicationEntry& a) {
  std::string s = "option " + std::to_string(a.option) + ": " + Month(a.monthIndex);
  if (a.Installed()) s += ", value " + std::to_string(a.value) + ", word " + Hex8(a.word);
  return s;
}

void RecordLines(std::vector<std::string>& out, const DeviceRecord& r, const char* indent) {
  const std::string in = indent;
  out.push_back(in + "serial number   " + ShownText(r.serial));
  out.push_back(in + "owner 1         " + ShownText(r.owner1));
  out.push_back(in + "owner 2         " + ShownText(r.owner2));
  out.push_back(in + "options         " + Options(r));
  out.push_back(in + "hardware        " + Numbers(r));
  for (const ApplicationEntry& a : r.applications)
    out.push_back(in + "application     " + Application(a));
}

std::string Ranges(const std::vector<AddressRange>& ranges) {
  if (ranges.empty()) return "none";
  std::string s;
  for (const AddressRange& r : ranges) s += (s.empty() ? "" : ", ") + RangeText(r);
  return s;
}

std::string RequestText(const DecodedFrame& f) {
  char code[8];
  std::snprintf(code, sizeof code, "%02X", f.code);
  const std::string name = CommandName(f.code);
  std::string s = std::string(code) + ' ' + (name.empty() ? "unknown command" : name);
  switch (f.code) {
    case 0x01:
      if (f.meaning.empty()) {
        s += ", " + Plural(f.count, "sector", "sectors");
        for (std::size_t i = 0; i < f.count && 1 + 4 * i + 3 < f.data.size(); ++i) {
          const std::uint8_t* p = f.data.data() + 1 + 4 * i;
          s +=
              (i ? " " : ": ") + Address((std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                                         (std::uint32_t{p[2]} << 8) | p[3]);
        }
      }
      break;
    case 0x03:
    case 0x05:
      if (f.meaning.empty())
        s += ' ' + Plural(f.count, "byte", "bytes") + " at " + Address(f.address);
      break;
    default:
      break;
  }
  if (!f.meaning.empty()) s += " (" + f.meaning + ")";
  return s;
}

std::string ReplyText(const DecodedFrame& f) {
  char code[8];
  std::snprintf(code, sizeof code, "%02X", f.code);
  const std::string name = CommandName(f.code);
  std::string s = std::string(code) + " reply" + (name.empty() ? "" : " to " + name);
  s += ", " + Plural(f.count, "byte", "bytes");
  if (!f.matches) return s + " (" + f.meaning + ")";
  if ((f.code == 0x03 || f.code == 0x05) && f.meaning != "not an answer to a program request")
    s += ": " + f.meaning + " at " + Address(f.address);
  else if (!f.meaning.empty())
    s += ": " + f.meaning;
  return s;
}

}  // namespace

std::string Address(std::uint32_t address) {
  return Hex8(address);
}

std::string RangeText(const AddressRange& range) {
  if (range.length == 0) return Address(range.start);
  return Address(range.start) + '-' + Address(static_cast<std::uint32_t>(range.End() - 1)) + " (" +
         Plural(range.length, "byte", "bytes") + ')';
}

std::string ShownText(const std::optional<std::string>& text) {
  if (!text) return "(not set)";
  std::string s;
  for (char c : *text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '\\') {
      s += c;
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", u);
      s += esc;
    }
  }
  return '"' + s + '"';
}

std::vector<std::string> TraceAnnotator::Lines(const DecodedFrame& f) {
  using Kind = DecodedFrame::Kind;
  std::string what;
  bool showBytes = allBytes_;
  switch (f.kind) {
    case Kind::RomProbe:
      what = "ROM probe";
      break;
    case Kind::RomAck:
      what = "ROM acknowledgement";
      break;
    case Kind::RomIdentify: {
      std::string text;
      for (char c : f.text) text += (c >= 0x20 && c < 0x7F) ? c : '?';
      what = "ROM identification \"" + text + '"';
      break;
    }
    case Kind::RomRead:
      what = "ROM read " + Plural(f.count, "byte", "bytes") + " at " + Address(f.address);
      break;
    case Kind::RomReadReply:
      what = "ROM read reply, " + Plural(f.count, "byte", "bytes") +
             (f.matches ? "" : " (not the reply awaited, ignored)");
      break;
    case Kind::RomWrite:
      what = "ROM write " + Plural(f.count, "byte", "bytes") + " at " + Address(f.address);
      break;
    case Kind::RomGo:
      what = "ROM go " + Address(f.address);
      break;
    case Kind::Request:
      what = RequestText(f);
      break;
    case Kind::Reply:
      what = ReplyText(f);
      break;
    case Kind::Bad:
      what = "bad frame (" + f.text + "), " + Plural(f.count, "byte", "bytes") + ", not taken";
      showBytes = true;
      break;
    case Kind::CutShort:
      what = "frame cut short, " + Plural(f.count, "byte", "bytes") + ", not taken";
      showBytes = true;
      break;
    case Kind::Unknown:
      what = "unknown, " + Plural(f.count, "byte", "bytes");
      showBytes = true;
      break;
    case Kind::BreakSent:
      what = "break held " + std::to_string(f.count) + " ms";
      break;
    case Kind::BreakReceived:
      what = "break from the device";
      break;
    case Kind::Speed:
      what = "line speed " + std::to_string(f.count) + " bit/s";
      break;
    case Kind::Note:
      what = "note: " + f.text;
      break;
  }
  const bool event = f.kind == Kind::BreakSent || f.kind == Kind::BreakReceived ||
                     f.kind == Kind::Speed || f.kind == Kind::Note;
  const char direction = f.kind == Kind::Note || f.kind == Kind::Speed ? '!'
                         : f.fromDevice                                ? '<'
                                                                       : '>';
  char head[48];
  if (lastMs_ && f.ms > *lastMs_) {
    std::snprintf(head, sizeof head, "%10llu %+8lld  %c  ", static_cast<unsigned long long>(f.ms),
                  static_cast<long long>(f.ms - *lastMs_), direction);
  } else {
    std::snprintf(head, sizeof head, "%10llu %8s  %c  ", static_cast<unsigned long long>(f.ms), "",
                  direction);
  }
  lastMs_ = f.ms;
  std::vector<std::string> lines{std::string(head) + what};
  if (f.record) RecordLines(lines, *f.record, kIndent);
  if (showBytes && !event && !f.bytes.empty()) {
    const std::size_t max = allBytes_ ? f.bytes.size() : kShortBytes;
    for (std::size_t i = 0; i < std::min(max, f.bytes.size()); i += 16) {
      const std::size_t n = std::min<std::size_t>(16, f.bytes.size() - i);
      std::string line = std::string(kIndent) + Hex(f.bytes.subspan(i, n), n);
      if (i + 16 >= max && max < f.bytes.size()) line += " ...";
      lines.push_back(line);
    }
  }
  return lines;
}

std::vector<std::string> SummaryLines(const LineSummary& s) {
  std::vector<std::string> out;
  const auto add = [&](const char* label, const std::string& value) {
    std::string line = label;
    line.resize(22, ' ');
    out.push_back(line + value);
  };
  std::string boot = Plural(s.breaksReceived, "break", "breaks") + " from the device, " +
                     Plural(s.identifications, "identification", "identifications");
  if (s.readOnlyIdentification)
    boot += *s.readOnlyIdentification ? " (read-only connection)" : " (software upgrade)";
  boot += s.romMonitorAnswered ? ", ROM monitor answered" : ", no ROM monitor answer";
  add("boot ROM", boot);
  std::string monitor = Plural(s.monitorBytesWritten, "byte", "bytes") + " uploaded";
  monitor += s.monitorStartedAt ? ", started at " + Address(*s.monitorStartedAt) : ", not started";
  monitor += s.monitorAnswered ? ", answered" : ", no answer";
  add("flash monitor", monitor);
  if (s.record) {
    std::vector<std::string> lines;
    RecordLines(lines, *s.record, "");
    for (const std::string& l : lines) {
      const std::size_t gap = l.find("  ");
      add(l.substr(0, gap).c_str(), l.substr(l.find_first_not_of(' ', gap)));
    }
  } else {
    add("configuration", "not read");
  }
  std::string erase = s.eraseReached ? "yes" : "no";
  if (s.eraseReached) {
    erase += s.eraseFinished ? ", finished" : s.eraseFailed ? ", failed" : ", not finished";
    erase += ", " + Plural(s.eraseSectors.size(), "sector", "sectors");
  }
  add("erase reached", erase);
  if (s.eraseReached) add("erased", Ranges(s.eraseRanges));
  if (s.garbageCollected) add("garbage collection", "done");
  if (s.fileSystemEraseReached) add("file system erase", "reached");
  add("programmed",
      Ranges(s.programmed) +
          (s.programRefusals ? ", " + Plural(s.programRefusals, "refusal", "refusals") : "") +
          (s.programDone ? ", confirmed" : ""));
  add("read", Ranges(s.read));
  add("read bytes", std::to_string(s.ReadBytes()));
  add("reboot",
      s.rebootSent ? (s.rebootAnswered ? "sent, answered" : "sent, no answer") : "not sent");
  add("not taken", Plural(s.badFrames, "bad frame", "bad frames") + ", " +
                       Plural(s.cutShort, "frame cut short", "frames cut short") + ", " +
                       Plural(s.unknownBytes, "unknown byte", "unknown bytes"));
  return out;
}

}  // namespace velmora
