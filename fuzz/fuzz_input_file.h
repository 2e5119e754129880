// Hands fuzz input to code that wants a file path: an in-memory file reached through
// /proc/self/fd, rewritten for every input, so no disk file is left behind.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class FuzzInputFile {
 public:
  FuzzInputFile() : fd_(::memfd_create("fuzz-input", 0)) {
    if (fd_ < 0) {
      std::perror("memfd_create");
      std::abort();
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~FuzzInputFile() { ::close(fd_); }
  FuzzInputFile(const FuzzInputFile&) = delete;
  FuzzInputFile& operator=(const FuzzInputFile&) = delete;

  // Replaces the file's contents; returns its path.
  const char* Write(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) {
      std::perror("fuzz input");
      std::abort();
    }
    return path_.c_str();
  }

 private:
  int fd_;
  std::string path_;
};
