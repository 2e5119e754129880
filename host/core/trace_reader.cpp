#include "host/core/trace_reader.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace velmora {

namespace {

// Hex digit values; 0x10 marks a character that is none. A dump's trace is megabytes of
// hex: the table keeps reading it from being most of the decoder's time.
constexpr std::array<std::uint8_t, 256> kHexValue = [] {
  std::array<std::uint8_t, 256> t{};
  t.fill(0x10);
  for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    t['A' + i] = static_cast<std::uint8_t>(10 + i);
    t['a' + i] = static_cast<std::uint8_t>(10 + i);
  }
  return t;
}();

bool Number(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

}  // namespace

bool FeedTraceLine(std::string_view line, LineDecoder& decoder) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::size_t space = line.find(' ');
  std::uint64_t ms = 0;
  if (space == std::string_view::npos || !Number(line.substr(0, space), ms)) return false;
  std::string_view rest = line.substr(space + 1);
  if (rest.empty()) return false;
  const char direction = rest[0];
  rest.remove_prefix(1);
  if (direction == '>' || direction == '<') {
    // " XX" for every byte.
    if (rest.empty() || rest.size() % 3 != 0) return false;
    thread_local std::vector<std::uint8_t> bytes;
    const std::size_t n = rest.size() / 3;
    bytes.resize(n);
    const auto* p = reinterpret_cast<const unsigned char*>(rest.data());
    unsigned bad = 0;
    for (std::size_t j = 0; j < n; ++j, p += 3) {
      const std::uint8_t high = kHexValue[p[1]];
      const std::uint8_t low = kHexValue[p[2]];
      bad |= static_cast<unsigned>(p[0] ^ ' ') << 8 | high | low;
      bytes[j] = static_cast<std::uint8_t>(high << 4 | low);
    }
    if (bad & ~0x0Fu) return false;
    if (direction == '>')
      decoder.ToDevice(bytes, ms);
    else
      decoder.FromDevice(bytes, ms);
    return true;
  }
  if (direction != '!' || rest.size() < 2 || rest[0] != ' ') return false;
  rest.remove_prefix(1);
  std::uint64_t value = 0;
  if (rest.starts_with("break-sent ") && Number(rest.substr(11), value) && value <= UINT32_MAX) {
    decoder.BreakSent(static_cast<std::uint32_t>(value), ms);
  } else if (rest == "break-received") {
    decoder.BreakReceived(ms);
  } else if (rest.starts_with("speed ") && Number(rest.substr(6), value) && value <= UINT32_MAX) {
    decoder.Speed(static_cast<std::uint32_t>(value), ms);
  } else {
    decoder.Note(std::string(rest), ms);
  }
  return true;
}

bool FeedTraceFile(const std::string& path, LineDecoder& decoder, std::string& error,
                   const std::function<void(std::uint64_t, std::string_view)>& onBadLine) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(1 << 16);
  std::string pending;
  std::uint64_t number = 0;
  auto take = [&](std::string_view line) {
    ++number;
    if (!FeedTraceLine(line, decoder) && onBadLine) onBadLine(number, line);
  };
  bool ok = true;
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
    if (n == 0) {
      if (std::ferror(file)) {
        error = path + ": " + std::strerror(errno);
        ok = false;
      }
      break;
    }
    std::string_view chunk(buffer.data(), n);
    for (std::size_t nl; (nl = chunk.find('\n')) != std::string_view::npos;) {
      if (pending.empty()) {
        take(chunk.substr(0, nl));
      } else {
        pending.append(chunk.substr(0, nl));
        take(pending);
        pending.clear();
      }
      chunk.remove_prefix(nl + 1);
    }
    pending.append(chunk);
  }
  std::fclose(file);
  if (!pending.empty()) take(pending);
  decoder.Finish();
  return ok;
}

}  // namespace velmora
