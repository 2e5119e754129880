// What the benchmarks read of their own process: CPU time and /proc/self/status fields.
#pragma once
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace bench {

inline double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A /proc/self/status field in kB; -1 when it cannot be read.
inline long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(in, line))
    if (line.compare(0, key.size(), key) == 0)
      return std::strtol(line.c_str() + key.size(), nullptr, 10);
  return -1;
}

}  // namespace bench
