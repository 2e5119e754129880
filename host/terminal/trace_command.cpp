// velmora trace show FILE: a wire trace annotated frame by frame, then what the run did.
#include <string>

#include "host/core/exit_codes.h"
#include "host/core/line_decoder.h"
#include "host/core/trace_annotation.h"
#include "host/core/trace_reader.h"
#include "host/terminal/commands.h"
#include "host/terminal/record_commands.h"

namespace velmora {

int TraceShowCommand(const TraceShowOptions& options, Console& console) {
  TraceAnnotator annotator(options.allBytes);
  LineDecoder::FrameSink sink;
  if (!options.summaryOnly) {
    sink = [&](const DecodedFrame& frame) {
      for (const std::string& line : annotator.Lines(frame)) console.PrintLine(line);
    };
  }
  LineDecoder decoder(sink);
  std::uint64_t badLines = 0;
  std::string error;
  const bool read =
      FeedTraceFile(options.file, decoder, error, [&](std::uint64_t number, std::string_view text) {
        ++badLines;
        if (options.summaryOnly) return;
        std::string shown(text.substr(0, 60));
        for (char& c : shown)
          if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
        console.PrintLine("line " + std::to_string(number) + " is no trace line: " + shown +
                          (text.size() > 60 ? "..." : ""));
      });
  if (!read) {
    Complain(error);
    return kExitFailed;
  }
  if (!options.summaryOnly) console.PrintLine("");
  console.PrintLine("Summary of " + options.file);
  for (const std::string& line : SummaryLines(decoder.Summary())) console.PrintLine("  " + line);
  if (badLines > 0)
    console.PrintLine("  " + std::to_string(badLines) + " line(s) of the file are no trace lines");
  return kExitSucceeded;
}

}  // namespace velmora
