// The S-record reader on arbitrary bytes: the format check and the record decoder, through
// a file as the plug-in reads it, through the content a run keeps (which must read the
// same), and line by line from exactly sized heap copies, so that a read past a line's
// end is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_input_file.h"
#include "models/srecord_file.h"
#include "reporting/failures.h"

namespace {

// What a reading gives: each record's type, address and data, and how it ended.
std::string ReadFile(const char* path, bool keep) {
  std::string seen;
  CSRecordFile file(path);
  try {
    file.OpenAndCheck();
    if (keep) file.KeepContent();
    SRecordLine line;
    BYTE type = 0;
    while (file.ReadNextRecord(line, type)) {
      if (line.length > SREC_MAX_DATA) std::abort();
      seen += static_cast<char>(type);
      seen.append(reinterpret_cast<const char*>(&line.address), sizeof line.address);
      seen.append(reinterpret_cast<const char*>(line.data), line.length);
      seen += '|';
    }
    seen += "end@" + std::to_string(file.GetPosition());
  } catch (CFileException* e) {
    seen += "file failure";
    e->Delete();
  } catch (CFlashMonException* e) {
    if (e->m_code != SREC_CHECKSUM_FAILURE && e->m_code != SREC_FORMAT_FAILURE) std::abort();
    seen += "failure " + std::to_string(e->m_code);
    e->Delete();
  }
  return seen;
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
  const char* path = input.Write(data, size);
  // A run reads the content it kept, not the file: both readings must agree exactly.
  if (ReadFile(path, false) != ReadFile(path, true)) std::abort();
  DecodeLines(data, size);
  return 0;
}
