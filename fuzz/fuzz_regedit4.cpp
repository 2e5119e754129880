// The registry file importer (REGEDIT4 and version 5.00, UTF-8 or UTF-16) on arbitrary
// files, each into a store of its own. A file the importer refuses must leave the store
// untouched; a file it takes must survive the trip out and back: exporting the store, importing
// that into a fresh store and exporting again gives the same text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "fuzz/fuzz_input_file.h"
#include "platform/registry.h"

namespace {

std::string gDir;

void RemoveStore(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((path + suffix).c_str());
}

// A fresh, empty store; the store follows VELMORA_REGISTRY on every call.
void UseFreshStore(const std::string& name) {
  const std::string path = gDir + "/" + name;
  RemoveStore(path);
  ::setenv("VELMORA_REGISTRY", path.c_str(), 1);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ExportWhole(const char* fileName) {
  const std::string path = gDir + "/" + fileName;
  if (platform::RegExportFile(path) != ERROR_SUCCESS) std::abort();
  return ReadAll(path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Stores on tmpfs when there is one: every input opens and fills a new one.
  const char* base = ::access("/dev/shm", W_OK) == 0
                         ? "/dev/shm"
                         : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  std::string pattern = std::string(base) + "/fuzz-regedit4-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  gDir = pattern;
  std::atexit([] {
    RemoveStore(gDir + "/first.db");
    RemoveStore(gDir + "/second.db");
    ::unlink((gDir + "/first.reg").c_str());
    ::unlink((gDir + "/second.reg").c_str());
    ::rmdir(gDir.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzInputFile input;
  const char* path = input.Write(data, size);

  UseFreshStore("first.db");
  const std::string empty = ExportWhole("first.reg");
  std::string error;
  const LONG imported = platform::RegImportFile(path, &error);
  if (imported != ERROR_SUCCESS) {
    if (imported == ERROR_INVALID_DATA && error.empty())
      std::abort();                                       // refused without saying why
    if (ExportWhole("first.reg") != empty) std::abort();  // a refused file wrote something
    return 0;
  }
  const std::string first = ExportWhole("first.reg");

  UseFreshStore("second.db");
  error.clear();
  if (platform::RegImportFile(gDir + "/first.reg", &error) != ERROR_SUCCESS) {
    std::fprintf(stderr, "the exported store does not import again: %s\n", error.c_str());
    std::abort();
  }
  if (ExportWhole("second.reg") != first) {
    std::fprintf(stderr, "the store changed on its way out and back\n");
    std::abort();
  }
  return 0;
}
