// Reading a large S-record file: OpenAndCheck and ReadNextRecord to the end, against
// srec_cat reading the same file, in the same run. Prints both throughputs and their
// ratio; fails when ours is the slower. Also the whole-file check that runs before an
// upgrade touches the device (CheckAllRecords), which must reach 100 MiB/s.
//   srec_throughput [megabytes]   (default 16)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "models/srecord_file.h"
#include "reporting/failures.h"

namespace {

constexpr int RUNS = 3;
constexpr double CHECK_FLOOR_MIB_S = 100;
constexpr int SKIPPED = 77;

using Clock = std::chrono::steady_clock;

// Type-3 records of 32 data bytes from 0x02400000 upwards, a header before them and a
// type-7 end record after, with CR LF line ends as firmware files usually have.
std::size_t WriteImage(const std::string& path, std::size_t bytes) {
  std::ofstream out(path, std::ios::binary);
  static const char digits[] = "0123456789ABCDEF";
  auto hex = [&](std::string& s, unsigned v) {
    s += digits[(v >> 4) & 15];
    s += digits[v & 15];
  };
  std::string line;
  std::size_t written = 0;
  out << "S00F00006B7637302D62656E63682E78D5\r\n";
  std::uint32_t address = 0x02400000;
  std::uint32_t seed = 12345;
  while (written < bytes) {
    line = "S3";
    const unsigned count = 4 + 32 + 1;
    unsigned sum = count;
    hex(line, count);
    for (int shift = 24; shift >= 0; shift -= 8) {
      hex(line, (address >> shift) & 0xFF);
      sum += (address >> shift) & 0xFF;
    }
    for (int i = 0; i < 32; ++i) {
      seed = seed * 1103515245u + 12345u;
      const unsigned b = (seed >> 16) & 0xFF;
      hex(line, b);
      sum += b;
    }
    hex(line, ~sum & 0xFF);
    line += "\r\n";
    out << line;
    written += line.size();
    address += 32;
  }
  out << "S70502400000B8\r\n";
  out.close();
  return static_cast<std::size_t>(std::filesystem::file_size(path));
}

double ReadOurs(const std::string& path, std::size_t& records) {
  const auto start = Clock::now();
  CSRecordFile file(path.c_str());
  file.OpenAndCheck();
  SRecordLine line;
  BYTE type = 0;
  records = 0;
  unsigned checksum = 0;
  while (file.ReadNextRecord(line, type)) {
    ++records;
    checksum += line.data[0];
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (checksum == 0xFFFFFFFFu) std::puts("");  // keeps the loop's work observable
  return seconds;
}

// The whole-file check over the file's own address range (the image is larger than any
// program flash): `records` data records of 32 bytes. Fails the run when the check
// refuses the file.
double CheckOurs(const std::string& path, std::size_t records) {
  const auto start = Clock::now();
  CSRecordFile file(path.c_str());
  file.OpenAndCheck();
  const SRecordFault fault =
      file.CheckAllRecords(0x02400000, static_cast<DWORD>(0x02400000 + 32 * records));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (fault.code != 0) {
    std::printf("check refused the image: %s\n", fault.detail.GetString());
    return -1;
  }
  return seconds;
}

// Wall time of srec_cat converting the file to binary into /dev/null; <0 when it fails.
double RunSrecCat(const std::string& path) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp("srec_cat", "srec_cat", path.c_str(), "-o", "/dev/null", "-binary",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
  char pattern[] = "/tmp/srec_throughput_XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  if (!dir) {
    std::perror("mkdtemp");
    return 2;
  }
  const std::string path = std::string(dir) + "/image.x";
  const std::size_t size = WriteImage(path, megabytes * 1024 * 1024);

  int result = 0;
  try {
    double ours = 1e30, theirs = 1e30, check = 1e30;
    std::size_t records = 0;
    for (int i = 0; i < RUNS; ++i) {
      ours = std::min(ours, ReadOurs(path, records));
      const double c = CheckOurs(path, records);
      if (c < 0) {
        result = 1;
        break;
      }
      check = std::min(check, c);
      const double t = RunSrecCat(path);
      if (t < 0) {
        std::printf("srec_cat did not run; nothing to compare with\n");
        result = SKIPPED;
        break;
      }
      theirs = std::min(theirs, t);
    }
    if (result == 0) {
      const double mb = static_cast<double>(size) / (1024.0 * 1024.0);
      std::printf("file: %.1f MiB, %zu records\n", mb, records);
      std::printf("CSRecordFile: %8.3f s  %8.1f MiB/s\n", ours, mb / ours);
      std::printf("srec_cat:     %8.3f s  %8.1f MiB/s\n", theirs, mb / theirs);
      std::printf("ratio (ours / srec_cat throughput): %.2f\n", theirs / ours);
      std::printf("whole-file check: %8.3f s  %8.1f MiB/s (floor %.0f)\n", check, mb / check,
                  CHECK_FLOOR_MIB_S);
      if (ours > theirs) {
        std::printf("FAIL: slower than srec_cat\n");
        result = 1;
      }
      if (mb / check < CHECK_FLOOR_MIB_S) {
        std::printf("FAIL: whole-file check below %.0f MiB/s\n", CHECK_FLOOR_MIB_S);
        result = 1;
      }
    }
  } catch (CException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    std::printf("failure: %s\n", text);
    e->Delete();
    result = 2;
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return result;
}
