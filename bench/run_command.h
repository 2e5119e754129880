// Running a program under measurement the way a shell would, for the benchmarks that
// measure the programs themselves.
#pragma once
#include <cstdio>
#include <string>

namespace bench {

// What `command` wrote to its standard output; `status` is pclose's (-1 when it could
// not be started).
inline std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return out;
  }
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  status = ::pclose(pipe);
  return out;
}

}  // namespace bench
