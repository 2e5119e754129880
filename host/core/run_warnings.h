// What a run that did not succeed may have left on the device. The host knows the run
// only by its status texts: the KV70 plug-in reports "Erasing program flash..." before
// it erases, and from then on a run that stops leaves the application incomplete.
#pragma once
#include <string>

namespace velmora {

// Whether a status text says that the device's program flash is being erased.
bool MarksProgramErase(const std::string& status);

// Whether a status text says that the firmware file's completeness could not be checked:
// the KV70 plug-in says so, before it connects, of a file that has neither an end record
// nor a count record. The host repeats the text where it stays in view after the run.
bool MarksUncheckedCompleteness(const std::string& status);

// Said after a failed or cancelled run that got as far as erasing.
std::string IncompleteProgramWarning();

// Why the last open of COM `comPort` failed, where its port knows more than the
// plug-in's message (which names only an error number): "COM1: rfc2217://...: the server
// does not speak RFC 2217 ...". Empty otherwise.
std::string PortOpenProblem(int comPort);

}  // namespace velmora
