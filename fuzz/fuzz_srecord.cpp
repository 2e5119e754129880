// The S-record reader on arbitrary bytes: the format check and the record decoder, once
// through a file as the plug-in reads it and once line by line from exactly sized heap
// copies, so that a read past a line's end is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_input_file.h"
#include "models/srecord_file.h"
#include "reporting/failures.h"

namespace {

void ReadFile(const char* path) {
  CSRecordFile file(path);
  try {
    file.OpenAndCheck();
    SRecordLine line;
    BYTE type = 0;
    while (file.ReadNextRecord(line, type)) {
      if (line.length > SREC_MAX_DATA) std::abort();
    }
  } catch (CFileException* e) {
    e->Delete();
  } catch (CFlashMonException* e) {
    if (e->m_code != 415 && e->m_code != 416) std::abort();
    e->Delete();
  }
}

void DecodeLines(const std::uint8_t* data, std::size_t size) {
  std::size_t start = 0;
  while (start <= size) {
    const void* nl = std::memchr(data + start, '\n', size - start);
    const std::size_t end =
        nl ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nl) - data) : size;
    const std::size_t length = end - start;
    // No slack after the line: the heap copy ends where the line does.
    std::unique_ptr<char[]> copy(new char[length ? length : 1]);
    if (length) std::memcpy(copy.get(), data + start, length);
    SRecordLine line;
    BYTE type = 0;
    try {
      DecodeSRecordLine(copy.get(), length, line, type);
    } catch (CFlashMonException* e) {
      e->Delete();
    }
    if (!nl) break;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzInputFile input;
  ReadFile(input.Write(data, size));
  DecodeLines(data, size);
  return 0;
}
