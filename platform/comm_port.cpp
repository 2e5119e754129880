// Port names, backend selection and line-definition strings. Knows no transport: each
// backend registers itself under its prefix.
#include "platform/comm_port.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/comm_trace.h"

namespace platform {

namespace {

std::mutex gBackendMutex;

std::map<std::string, CommBackendFactory>& Backends() {
  static std::map<std::string, CommBackendFactory> backends;
  return backends;
}

CommBackendFactory FindBackend(const std::string& prefix) {
  std::lock_guard lock(gBackendMutex);
  auto it = Backends().find(prefix);
  return it == Backends().end() ? CommBackendFactory{} : it->second;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::optional<unsigned long> ParseNumber(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value;
}

// Parity letter, code.
struct ParityRow {
  char letter;
  BYTE code;
};
constexpr ParityRow kParity[] = {
    {'n', NOPARITY}, {'o', ODDPARITY}, {'e', EVENPARITY}, {'m', MARKPARITY}, {'s', SPACEPARITY},
};

// Stop-bit text, code.
struct StopRow {
  std::string_view text;
  BYTE code;
};
constexpr StopRow kStopBits[] = {{"1", ONESTOPBIT}, {"1.5", ONE5STOPBITS}, {"2", TWOSTOPBITS}};

bool SetBaud(std::string_view text, DCB& dcb) {
  auto value = ParseNumber(text);
  if (!value || *value == 0) return false;
  dcb.BaudRate = static_cast<DWORD>(*value);
  return true;
}

bool SetParity(std::string_view text, DCB& dcb) {
  if (text.size() != 1) return false;
  char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  for (const auto& row : kParity) {
    if (row.letter == letter) {
      dcb.Parity = row.code;
      dcb.fParity = row.code != NOPARITY;
      return true;
    }
  }
  return false;
}

bool SetDataBits(std::string_view text, DCB& dcb) {
  auto value = ParseNumber(text);
  if (!value || *value < 5 || *value > 8) return false;
  dcb.ByteSize = static_cast<BYTE>(*value);
  return true;
}

bool SetStopBits(std::string_view text, DCB& dcb) {
  for (const auto& row : kStopBits) {
    if (row.text == text) {
      dcb.StopBits = row.code;
      return true;
    }
  }
  return false;
}

// The MODE command's flow letter: x = XON/XOFF, p = hardware handshaking.
bool SetFlow(std::string_view text, DCB& dcb) {
  if (EqualsNoCase(text, "x")) {
    dcb.fOutX = dcb.fInX = true;
  } else if (EqualsNoCase(text, "p")) {
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = true;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else {
    return false;
  }
  return true;
}

using FieldSetter = bool (*)(std::string_view, DCB&);

// Positional fields of "9600,n,8,1[,x|p]", in order.
constexpr FieldSetter kPositional[] = {SetBaud, SetParity, SetDataBits, SetStopBits, SetFlow};

// Keyword fields of "baud=9600 parity=n data=8 stop=1".
struct KeywordRow {
  std::string_view key;
  FieldSetter set;
};
constexpr KeywordRow kKeywords[] = {
    {"baud", SetBaud},
    {"parity", SetParity},
    {"data", SetDataBits},
    {"stop", SetStopBits},
};

std::vector<std::string_view> Split(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(separators, start);
    if (end == std::string_view::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

bool ParseDefinition(std::string_view text, DCB& dcb) {
  text = Trim(text);
  // A leading device name ("COM1:") as MODE accepts it.
  if (auto colon = text.find(':');
      colon != std::string_view::npos &&
      EqualsNoCase(text.substr(0, std::min<std::size_t>(3, colon)), "com")) {
    text = Trim(text.substr(colon + 1));
  }
  if (text.empty()) return true;
  if (text.find('=') != std::string_view::npos) {
    for (auto field : Split(text, " \t,")) {
      if (field.empty()) continue;
      auto eq = field.find('=');
      if (eq == std::string_view::npos) return false;
      auto key = field.substr(0, eq);
      const KeywordRow* row = nullptr;
      for (const auto& candidate : kKeywords) {
        if (EqualsNoCase(candidate.key, key)) row = &candidate;
      }
      if (!row || !row->set(field.substr(eq + 1), dcb)) return false;
    }
    return true;
  }
  auto fields = Split(text, ",");
  if (fields.size() > std::size(kPositional)) return false;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    auto field = Trim(fields[i]);
    if (field.empty()) continue;  // "9600,,8,1" leaves the parity as it was
    if (!kPositional[i](field, dcb)) return false;
  }
  return true;
}

constexpr std::string_view kDevicePrefix = "\\\\.\\";
constexpr std::string_view kSimPrefix = "sim";
// Network ports: "rfc2217://HOST:PORT" goes to the backend registered as "rfc2217" with
// "HOST:PORT" as its settings.
constexpr std::string_view kNetworkScheme = "rfc2217://";
constexpr std::string_view kNetworkBackend = "rfc2217";

}  // namespace

}  // namespace platform

BOOL BuildCommDCB(const char* definition, DCB* dcb) {
  if (!dcb) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Parse into a copy: a definition that fails half-way changes nothing.
  DCB result = *dcb;
  if (!platform::ParseDefinition(definition ? definition : "", result)) {
    platform::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *dcb = result;
  return TRUE;
}

namespace platform {

CommBackendFactory RegisterCommBackend(const std::string& prefix, CommBackendFactory factory) {
  std::lock_guard lock(gBackendMutex);
  CommBackendFactory previous;
  auto it = Backends().find(prefix);
  if (it != Backends().end()) {
    previous = std::move(it->second);
    Backends().erase(it);
  }
  if (factory) Backends().emplace(prefix, std::move(factory));
  return previous;
}

std::string ResolveCommName(const std::string& name) {
  std::string_view view(name);
  if (view.size() <= kDevicePrefix.size() + 3 ||
      view.substr(0, kDevicePrefix.size()) != kDevicePrefix ||
      !EqualsNoCase(view.substr(kDevicePrefix.size(), 3), "com")) {
    return name;
  }
  auto number = ParseNumber(view.substr(kDevicePrefix.size() + 3));
  if (!number || *number == 0) return name;
  std::string variable = "VELMORA_COM" + std::to_string(*number);
  if (const char* value = std::getenv(variable.c_str()); value && *value) return value;
  return SystemCommDevice(name, static_cast<unsigned>(*number));
}

namespace {

bool IsNetworkName(std::string_view resolved) {
  return resolved.size() >= kNetworkScheme.size() &&
         EqualsNoCase(resolved.substr(0, kNetworkScheme.size()), kNetworkScheme);
}

}  // namespace

std::string NetworkPortAddress(const std::string& name) {
  const std::string resolved = ResolveCommName(name);
  return IsNetworkName(resolved) ? resolved.substr(kNetworkScheme.size()) : std::string();
}

namespace {

std::mutex gProblemMutex;
CommProblemListener gProblemListener;

std::map<std::string, CommPortProblem>& Problems() {
  static std::map<std::string, CommPortProblem> problems;
  return problems;
}

// One key per port however its name was written: the network scheme in any letter case.
std::string ProblemKey(const std::string& resolved) {
  return IsNetworkName(resolved)
             ? std::string(kNetworkScheme) + resolved.substr(kNetworkScheme.size())
             : resolved;
}

void ForgetProblem(const std::string& resolved) {
  std::lock_guard lock(gProblemMutex);
  Problems().erase(ProblemKey(resolved));
}

}  // namespace

CommPortProblem LastCommPortProblem(const std::string& name) {
  std::lock_guard lock(gProblemMutex);
  const auto it = Problems().find(ProblemKey(ResolveCommName(name)));
  return it == Problems().end() ? CommPortProblem{} : it->second;
}

void ReportCommPortProblem(const std::string& resolved, const CommPortProblem& problem,
                           bool atOpen) {
  CommProblemListener listener;
  {
    std::lock_guard lock(gProblemMutex);
    Problems()[ProblemKey(resolved)] = problem;
    listener = gProblemListener;
  }
  NoteOnWire((atOpen ? "open-failed " : "port-failed ") + problem.text);
  if (listener) listener(problem.text);
}

CommProblemListener SetCommProblemListener(CommProblemListener listener) {
  std::lock_guard lock(gProblemMutex);
  CommProblemListener previous = std::move(gProblemListener);
  gProblemListener = std::move(listener);
  return previous;
}

DWORD OpenCommPort(const std::string& name, std::unique_ptr<CommPort>& port) {
  port.reset();
  std::string resolved = ResolveCommName(name);
  ForgetProblem(resolved);
  std::string prefix;
  std::string settings = resolved;
  std::string_view view(resolved);
  if (view == kSimPrefix ||
      (view.size() > kSimPrefix.size() && view.substr(0, kSimPrefix.size()) == kSimPrefix &&
       view[kSimPrefix.size()] == ':')) {
    prefix = std::string(kSimPrefix);
    settings =
        view.size() > kSimPrefix.size() ? resolved.substr(kSimPrefix.size() + 1) : std::string();
  } else if (IsNetworkName(view)) {
    prefix = std::string(kNetworkBackend);
    settings = resolved.substr(kNetworkScheme.size());
  }
  CommBackendFactory factory = FindBackend(prefix);
  if (!factory) return ERROR_FILE_NOT_FOUND;

  std::unique_ptr<CommPort> opened;
  DWORD error = factory(settings, opened);
  if (error != ERROR_SUCCESS) return error;
  if (!opened) return ERROR_GEN_FAILURE;  // a backend that claims success must deliver a port
  port = CurrentWireTap() ? MakeTracingPort(std::move(opened)) : std::move(opened);
  return ERROR_SUCCESS;
}

}  // namespace platform
