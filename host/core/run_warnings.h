// What a run that did not succeed may have left on the device. The host knows it from
// the line, not from the plug-in's texts (which a translation or a new wording would
// change): once the erase request has gone out, a run that stops leaves program flash
// without a complete application.
#pragma once
#include <string>

#include "host/core/line_decoder.h"

namespace velmora {

// Whether a run that ended with `result` (the plug-in's) may have left program flash
// holding an incomplete application: it did not succeed and the erase was reached.
bool ProgramMayBeIncomplete(int result, const LineSummary& line);

// Whether a status text says that the firmware file's completeness could not be checked:
// the KV70 plug-in says so, before it connects, of a file that has neither an end record
// nor a count record. The host repeats the text where it stays in view after the run.
bool MarksUncheckedCompleteness(const std::string& status);

// Said after a failed or cancelled run that got as far as erasing.
std::string IncompleteProgramWarning();

// Why COM `comPort` last failed, where its port knows more than the plug-in's message
// (which names only an error number): its open ("COM1: /dev/ttyUSB0 is in use by process
// 4242 (minicom)."), or a network connection lost during the run. A path that does not
// exist is followed by the serial ports present, as `velmora ports` lists them. Empty
// when there is nothing to say.
std::string PortOpenProblem(int comPort);

// A port's problem as the hosts show it: "COM1: TEXT." (empty for an empty text).
std::string PortProblemLine(int comPort, const std::string& text);

// "Serial ports:" and one line per port, or "No serial ports found.".
std::string SerialPortsPresent();

}  // namespace velmora
