// A service record's stored columns, in one order for every store that keeps records
// (the local SQLite table, the depot's PostgreSQL ledger): their names and kinds, the
// values written into them and the record read back from them. A column added here
// reaches every store's table, statements and rows at once.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "host/core/service_record.h"

namespace velmora {

// What a column holds; each store names the type in its own SQL.
enum class ColumnType { kText, kInteger, kBigInteger, kFlag };

struct RecordColumn {
  const char* name;
  ColumnType type;
  const char* constraint;  // "NOT NULL", ..., or ""
};

// The columns in order. PostgreSQL reserves `user`; the ledger quotes it.
inline constexpr std::array<RecordColumn, 32> kRecordColumns = {{
    {"started", ColumnType::kText, "NOT NULL"},
    {"ended", ColumnType::kText, ""},
    {"station", ColumnType::kText, "NOT NULL"},
    {"user", ColumnType::kText, "NOT NULL"},
    {"version", ColumnType::kText, "NOT NULL"},
    {"operation", ColumnType::kText, "NOT NULL"},
    {"com_port", ColumnType::kInteger, "NOT NULL"},
    {"port", ColumnType::kText, "NOT NULL"},
    {"serial", ColumnType::kText, ""},
    {"owner1", ColumnType::kText, ""},
    {"owner2", ColumnType::kText, ""},
    {"info0", ColumnType::kInteger, ""},
    {"info1", ColumnType::kInteger, ""},
    {"flash_type", ColumnType::kInteger, ""},
    {"info3", ColumnType::kInteger, ""},
    {"file_system_mb", ColumnType::kInteger, ""},
    {"application_id", ColumnType::kInteger, ""},
    {"applications", ColumnType::kText, "NOT NULL DEFAULT ''"},
    {"result", ColumnType::kText, "NOT NULL"},
    {"exit_status", ColumnType::kInteger, ""},
    {"failure_number", ColumnType::kInteger, ""},
    {"failure_text", ColumnType::kText, "NOT NULL DEFAULT ''"},
    {"firmware_description", ColumnType::kText, ""},
    {"firmware_path", ColumnType::kText, ""},
    {"firmware_size", ColumnType::kBigInteger, ""},
    {"firmware_sha256", ColumnType::kText, ""},
    {"software_word", ColumnType::kBigInteger, ""},
    {"erase_reached", ColumnType::kFlag, ""},
    {"log_path", ColumnType::kText, ""},
    {"log_bytes", ColumnType::kBigInteger, ""},
    {"log_sha256", ColumnType::kText, ""},
    {"log_complete", ColumnType::kFlag, ""},
}};

// The columns' definitions for a CREATE TABLE ("started TEXT NOT NULL, ended TEXT, ..."),
// each name as `name(column)` spells it and each type as `type(column.type)` does.
template <typename Name, typename Type>
std::string RecordColumnDefinitions(Name name, Type type) {
  std::string text;
  for (const RecordColumn& c : kRecordColumns) {
    text += text.empty() ? "" : ",\n  ";
    text += std::string(name(c)) + " " + type(c.type);
    if (*c.constraint) text += std::string(" ") + c.constraint;
  }
  return text;
}

// Hands the value of each column of `r`, in column order, to `out`, which offers
// Text(std::optional<std::string>), Int(std::optional<std::int64_t>) and
// Flag(std::optional<bool>); nullopt is a missing value.
template <typename Out>
void WriteRecordColumns(const ServiceRecord& r, Out& out) {
  using Int = std::optional<std::int64_t>;
  using Text = std::optional<std::string>;
  out.Text(r.started);
  out.Text(r.ended.empty() ? std::nullopt : Text(r.ended));
  out.Text(r.station);
  out.Text(r.user);
  out.Text(r.version);
  out.Text(r.operation);
  out.Int(r.comPort);
  out.Text(r.port);
  out.Text(r.serial);
  out.Text(r.owner1);
  out.Text(r.owner2);
  const auto hw = [&](std::uint16_t HardwareNumbers::*field) {
    return r.hardware ? Int((*r.hardware).*field) : std::nullopt;
  };
  out.Int(hw(&HardwareNumbers::info0));
  out.Int(hw(&HardwareNumbers::info1));
  out.Int(hw(&HardwareNumbers::flashType));
  out.Int(hw(&HardwareNumbers::info3));
  out.Int(hw(&HardwareNumbers::fileSystemMb));
  out.Int(hw(&HardwareNumbers::applicationId));
  out.Text(StoredApplications(r.applications));
  out.Text(r.result);
  out.Int(r.exitStatus ? Int(*r.exitStatus) : std::nullopt);
  out.Int(r.failureNumber ? Int(*r.failureNumber) : std::nullopt);
  out.Text(r.failureText);
  if (r.firmware) {
    const FirmwareFacts& f = *r.firmware;
    out.Text(f.description);
    out.Text(f.path);
    out.Int(f.size ? Int(static_cast<std::int64_t>(*f.size)) : std::nullopt);
    out.Text(f.sha256);
    out.Int(f.softwareWord ? Int(*f.softwareWord) : std::nullopt);
  } else {
    for (int k = 0; k < 5; ++k) out.Text(std::nullopt);
  }
  out.Flag(r.eraseReached);
  if (r.logFile) {
    out.Text(r.logFile->path);
    out.Int(static_cast<std::int64_t>(r.logFile->bytes));
    out.Text(r.logFile->sha256);
    out.Flag(r.logFile->complete);
  } else {
    for (int k = 0; k < 4; ++k) out.Text(std::nullopt);
  }
}

// Reads the columns into `r` from column `first` of `row` on; `row` offers IsNull(c),
// Text(c), OptText(c), Int(c) and Flag(c).
template <typename Row>
void ReadRecordColumns(const Row& s, int first, ServiceRecord& r) {
  int c = first;
  r.started = s.Text(c++);
  r.ended = s.Text(c++);
  r.station = s.Text(c++);
  r.user = s.Text(c++);
  r.version = s.Text(c++);
  r.operation = s.Text(c++);
  r.comPort = static_cast<int>(s.Int(c++));
  r.port = s.Text(c++);
  r.serial = s.OptText(c++);
  r.owner1 = s.OptText(c++);
  r.owner2 = s.OptText(c++);
  if (!s.IsNull(c)) {
    HardwareNumbers h;
    h.info0 = static_cast<std::uint16_t>(s.Int(c));
    h.info1 = static_cast<std::uint16_t>(s.Int(c + 1));
    h.flashType = static_cast<std::uint16_t>(s.Int(c + 2));
    h.info3 = static_cast<std::uint16_t>(s.Int(c + 3));
    h.fileSystemMb = static_cast<std::uint16_t>(s.Int(c + 4));
    h.applicationId = static_cast<std::uint16_t>(s.Int(c + 5));
    r.hardware = h;
  }
  c += 6;
  r.applications = ParseApplications(s.Text(c++));
  r.result = s.Text(c++);
  if (!s.IsNull(c)) r.exitStatus = static_cast<int>(s.Int(c));
  ++c;
  if (!s.IsNull(c)) r.failureNumber = static_cast<int>(s.Int(c));
  ++c;
  r.failureText = s.Text(c++);
  if (!s.IsNull(c + 1)) {
    FirmwareFacts f;
    f.description = s.Text(c);
    f.path = s.Text(c + 1);
    if (!s.IsNull(c + 2)) f.size = static_cast<std::uint64_t>(s.Int(c + 2));
    f.sha256 = s.Text(c + 3);
    if (!s.IsNull(c + 4)) f.softwareWord = static_cast<std::uint32_t>(s.Int(c + 4));
    r.firmware = f;
  }
  c += 5;
  if (!s.IsNull(c)) r.eraseReached = s.Flag(c);
  ++c;
  if (!s.IsNull(c)) {
    LogFileFacts l;
    l.path = s.Text(c);
    l.bytes = static_cast<std::uint64_t>(s.Int(c + 1));
    l.sha256 = s.Text(c + 2);
    l.complete = s.Flag(c + 3);
    r.logFile = l;
  }
}

}  // namespace velmora
