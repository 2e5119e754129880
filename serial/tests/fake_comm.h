// A scripted comm port for unit tests of CSerialCom: records every call in order and
// answers from a script. Registered under the "sim" prefix, which no backend of this test
// program otherwise claims; "\\.\COM<n>" reaches it through VELMORA_COM<n>=sim.
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/comm_port.h"

namespace serial_test {

// One scripted read: the bytes delivered and the error returned.
struct ReadStep {
  std::vector<BYTE> bytes;
  DWORD error = ERROR_SUCCESS;
};

// The line as the test sees it. Shared between the test and the port object so that it
// outlives the port.
struct FakeLine {
  // Script.
  DWORD openError = ERROR_SUCCESS;
  DWORD getStateError = ERROR_SUCCESS;
  std::deque<DWORD> setStateErrors;  // one per SetState; empty = success
  std::deque<ReadStep> reads;        // empty = time-out (0 bytes)
  DWORD writeError = ERROR_SUCCESS;
  DWORD writeAccept = UINT32_MAX;        // bytes a write takes at most
  DWORD writeLastError = ERROR_SUCCESS;  // the thread's last error after a short write
  DWORD clearErrorResult = ERROR_SUCCESS;
  std::deque<DWORD> lineErrors;  // flags reported by successive ClearError calls

  // Record.
  std::vector<std::string> calls;      // "GetState", "SetState", "Purge:F", ...
  DCB state;                           // the settings in force
  std::vector<DCB> applied;            // every SetState, in order
  std::vector<COMMTIMEOUTS> timeouts;  // every SetTimeouts, in order
  std::vector<DWORD> purges;           // every Purge's flags
  std::vector<BYTE> written;
  int portsAlive = 0;
};

// Installs the fake backend over a fresh line and points COM<portNumber> at it.
std::shared_ptr<FakeLine> InstallFakeLine(int portNumber);

}  // namespace serial_test
