#include "host/core/service_record.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#include "host/core/json_events.h"
#include "host/core/version.h"

namespace velmora {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

void JsonString(std::string& out, const std::string& s) {
  out += JsonQuoted(s);
}

struct Json {
  std::string out = "{";
  bool first = true;
  void Key(const char* key) {
    if (!first) out += ',';
    first = false;
    out += '"';
    out += key;
    out += "\":";
  }
  void Str(const char* key, const std::string& v) {
    Key(key);
    JsonString(out, v);
  }
  void OptStr(const char* key, const std::optional<std::string>& v) {
    Key(key);
    if (v)
      JsonString(out, *v);
    else
      out += "null";
  }
  void EmptyNull(const char* key, const std::string& v) {
    Key(key);
    if (v.empty())
      out += "null";
    else
      JsonString(out, v);
  }
  void Num(const char* key, std::int64_t v) {
    Key(key);
    out += std::to_string(v);
  }
  void OptNum(const char* key, const std::optional<std::int64_t>& v) {
    Key(key);
    out += v ? std::to_string(*v) : "null";
  }
  void Bool(const char* key, bool v) {
    Key(key);
    out += v ? "true" : "false";
  }
  void Raw(const char* key, const std::string& v) {
    Key(key);
    out += v;
  }
  std::string Done() { return out + "}"; }
};

std::string Hex8(std::uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

std::string MonthText(std::uint16_t index) {
  if (index == 0 || index == 0xFFFF) return "";
  int year = index / 12 + 1997, month = index % 12;
  if (month == 0) {
    month = 12;
    --year;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d", year, month);
  return text;
}

std::string ApplicationsText(const std::vector<ApplicationEntry>& apps) {
  std::string s;
  for (const ApplicationEntry& a : apps) {
    if (!s.empty()) s += ';';
    s += std::to_string(a.option) + ':' + std::to_string(a.monthIndex) + ':' + Hex8(a.word) + ':' +
         std::to_string(a.value);
  }
  return s;
}

void CsvField(std::string& out, const std::string& v) {
  if (v.find_first_of(",\"\r\n") == std::string::npos) {
    out += v;
    return;
  }
  out += '"';
  for (char c : v) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

bool IsRecordResult(const std::string& text) {
  return text == "succeeded" || text == "failed" || text == "cancelled" || text == "interrupted";
}

void TakeFromLine(ServiceRecord& record, const LineSummary& line) {
  if (line.record) {
    const DeviceRecord& r = *line.record;
    record.serial = r.serial;
    record.owner1 = r.owner1;
    record.owner2 = r.owner2;
    record.hardware =
        HardwareNumbers{r.info0, r.info1, r.flashType, r.info3, r.fileSystemMb, r.applicationId};
    record.applications.clear();
    for (const ApplicationEntry& a : r.applications)
      if (a.Installed()) record.applications.push_back(a);
  }
  if (line.eraseReached) record.eraseReached = true;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &now);
#else
  gmtime_r(&now, &tm);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

ServiceRecord NewRecord(const std::string& operation, int comPort, const std::string& port) {
  ServiceRecord r;
  r.started = UtcNow();
  r.station = StationName();
  r.user = OperatingSystemUser();
  r.version = VelmoraVersion();
  r.operation = operation;
  r.comPort = comPort;
  r.port = port;
  return r;
}

bool NormaliseSince(const std::string& text, std::string& normalised) {
  // YYYY-MM-DD, then optionally [T ]HH:MM[:SS], then optionally Z.
  std::string t = text;
  if (!t.empty() && (t.back() == 'Z' || t.back() == 'z')) t.pop_back();
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int used = 0;
  if (std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) != 3 || used != 10) return false;
  if (t.size() > 10) {
    sep = t[10];
    if (sep != 'T' && sep != 't' && sep != ' ') return false;
    int used2 = 0;
    const std::string clock = t.substr(11);
    if (clock.size() == 5) {
      if (std::sscanf(clock.c_str(), "%2d:%2d%n", &h, &mi, &used2) != 2 || used2 != 5) return false;
    } else if (clock.size() == 8) {
      if (std::sscanf(clock.c_str(), "%2d:%2d:%2d%n", &h, &mi, &s, &used2) != 3 || used2 != 8)
        return false;
    } else {
      return false;
    }
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || y < 1) return false;
  char out[80];
  std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02dZ", y, mo, d, h, mi, s);
  normalised = out;
  return true;
}

bool RecordMatches(const ServiceRecord& r, const RecordFilter& f) {
  if (!f.serial.empty() && (!r.serial || Lower(*r.serial) != Lower(f.serial))) return false;
  if (!f.since.empty() && r.started < f.since) return false;
  if (!f.result.empty() && r.result != f.result) return false;
  if (!f.operation.empty() && Lower(r.operation) != Lower(f.operation)) return false;
  return true;
}

std::string RecordJson(const ServiceRecord& r) {
  Json j;
  j.Num("id", r.id);
  j.Str("started", r.started);
  j.EmptyNull("ended", r.ended);
  j.Str("station", r.station);
  j.Str("user", r.user);
  j.Str("version", r.version);
  j.Str("operation", r.operation);
  j.Num("com_port", r.comPort);
  j.Str("port", r.port);
  j.OptStr("serial", r.serial);
  j.OptStr("owner1", r.owner1);
  j.OptStr("owner2", r.owner2);
  if (r.hardware) {
    const HardwareNumbers& h = *r.hardware;
    j.Raw("hardware", "{\"info0\":" + std::to_string(h.info0) +
                          ",\"info1\":" + std::to_string(h.info1) + ",\"flash_type\":" +
                          std::to_string(h.flashType) + ",\"info3\":" + std::to_string(h.info3) +
                          ",\"file_system_mb\":" + std::to_string(h.fileSystemMb) +
                          ",\"application_id\":" + std::to_string(h.applicationId) + "}");
  } else {
    j.Raw("hardware", "null");
  }
  std::string apps = "[";
  for (const ApplicationEntry& a : r.applications) {
    if (apps.size() > 1) apps += ',';
    apps += "{\"option\":" + std::to_string(a.option) +
            ",\"month_index\":" + std::to_string(a.monthIndex) + ",\"month\":";
    const std::string month = MonthText(a.monthIndex);
    apps += month.empty() ? "null" : "\"" + month + "\"";
    apps += ",\"word\":\"" + Hex8(a.word) + "\",\"value\":" + std::to_string(a.value) + "}";
  }
  j.Raw("applications", apps + "]");
  j.Str("result", r.result);
  j.OptNum("exit_status", r.exitStatus ? std::optional<std::int64_t>(*r.exitStatus) : std::nullopt);
  if (r.failureNumber || !r.failureText.empty()) {
    Json f;
    f.OptNum("number",
             r.failureNumber ? std::optional<std::int64_t>(*r.failureNumber) : std::nullopt);
    f.Str("text", r.failureText);
    j.Raw("failure", f.Done());
  } else {
    j.Raw("failure", "null");
  }
  if (r.firmware) {
    Json f;
    f.Str("description", r.firmware->description);
    f.Str("path", r.firmware->path);
    f.OptNum("size", r.firmware->size
                         ? std::optional<std::int64_t>(static_cast<std::int64_t>(*r.firmware->size))
                         : std::nullopt);
    f.EmptyNull("sha256", r.firmware->sha256);
    f.EmptyNull("software_word", r.firmware->softwareWord ? Hex8(*r.firmware->softwareWord) : "");
    j.Raw("firmware", f.Done());
  } else {
    j.Raw("firmware", "null");
  }
  j.Raw("erase_reached", r.eraseReached ? (*r.eraseReached ? "true" : "false") : "null");
  if (r.logFile) {
    Json f;
    f.Str("path", r.logFile->path);
    f.Num("bytes", static_cast<std::int64_t>(r.logFile->bytes));
    f.EmptyNull("sha256", r.logFile->sha256);
    f.Bool("complete", r.logFile->complete);
    j.Raw("log_file", f.Done());
  } else {
    j.Raw("log_file", "null");
  }
  return j.Done();
}

std::string RecordCsvHeader() {
  return "id,started,ended,station,user,version,operation,com_port,port,serial,owner1,owner2,"
         "info0,info1,flash_type,info3,file_system_mb,application_id,applications,result,"
         "exit_status,failure_number,failure_text,firmware_description,firmware_path,"
         "firmware_size,firmware_sha256,software_word,erase_reached,log_path,log_bytes,"
         "log_sha256,log_complete";
}

std::string RecordCsv(const ServiceRecord& r) {
  std::vector<std::string> f;
  const auto opt = [](const auto& v) { return v ? std::to_string(*v) : std::string(); };
  f.push_back(std::to_string(r.id));
  f.push_back(r.started);
  f.push_back(r.ended);
  f.push_back(r.station);
  f.push_back(r.user);
  f.push_back(r.version);
  f.push_back(r.operation);
  f.push_back(std::to_string(r.comPort));
  f.push_back(r.port);
  f.push_back(r.serial.value_or(""));
  f.push_back(r.owner1.value_or(""));
  f.push_back(r.owner2.value_or(""));
  if (r.hardware) {
    for (std::uint16_t v : {r.hardware->info0, r.hardware->info1, r.hardware->flashType,
                            r.hardware->info3, r.hardware->fileSystemMb, r.hardware->applicationId})
      f.push_back(std::to_string(v));
  } else {
    f.insert(f.end(), 6, "");
  }
  f.push_back(ApplicationsText(r.applications));
  f.push_back(r.result);
  f.push_back(opt(r.exitStatus));
  f.push_back(opt(r.failureNumber));
  f.push_back(r.failureText);
  if (r.firmware) {
    f.push_back(r.firmware->description);
    f.push_back(r.firmware->path);
    f.push_back(opt(r.firmware->size));
    f.push_back(r.firmware->sha256);
    f.push_back(r.firmware->softwareWord ? Hex8(*r.firmware->softwareWord) : "");
  } else {
    f.insert(f.end(), 5, "");
  }
  f.push_back(r.eraseReached ? (*r.eraseReached ? "yes" : "no") : "");
  if (r.logFile) {
    f.push_back(r.logFile->path);
    f.push_back(std::to_string(r.logFile->bytes));
    f.push_back(r.logFile->sha256);
    f.push_back(r.logFile->complete ? "yes" : "no");
  } else {
    f.insert(f.end(), 4, "");
  }
  std::string out;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (i) out += ',';
    CsvField(out, f[i]);
  }
  return out;
}

// The stored form of the application entries ("33:25:00000001:5;40:...") back.
std::vector<ApplicationEntry> ParseApplications(const std::string& text) {
  std::vector<ApplicationEntry> apps;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    unsigned option = 0, month = 0, word = 0, value = 0;
    if (std::sscanf(item.c_str(), "%u:%u:%x:%u", &option, &month, &word, &value) == 4)
      apps.push_back({static_cast<int>(option), static_cast<std::uint16_t>(month), word,
                      static_cast<std::uint8_t>(value)});
    start = end + 1;
  }
  return apps;
}

std::string StoredApplications(const std::vector<ApplicationEntry>& apps) {
  return ApplicationsText(apps);
}

bool RecordStore::LedgerSource(std::string&, std::string& error) {
  error = "this record store cannot send records to a ledger";
  return false;
}

bool RecordStore::Unsent(std::vector<ServiceRecord>&, std::string& error) {
  error = "this record store cannot send records to a ledger";
  return false;
}

bool RecordStore::MarkSent(const ServiceRecord&, std::string& error) {
  error = "this record store cannot send records to a ledger";
  return false;
}

}  // namespace velmora
