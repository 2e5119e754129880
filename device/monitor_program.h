// The flash monitor program one run uploads: the image embedded in the plug-in, or the
// file named by the environment variable VELMORA_KV70_MONITOR (a real KV70 needs the
// device's own program, which the project cannot ship).
#pragma once
#include <string>
#include <vector>

#include "framework/afx.h"
#include "platform/winbase.h"

// The variable that names a monitor program file for the runs of this process.
constexpr const char kMonitorProgramVariable[] = "VELMORA_KV70_MONITOR";

class CMonitorProgram {
 public:
  // The embedded image.
  CMonitorProgram();

  // The program for a run: the file named by VELMORA_KV70_MONITOR when it is set, else
  // the embedded image. Throws CMonitorProgramException for a file that is missing, a
  // directory, unreadable or not exactly kFlashMonitorImageSize bytes.
  static CMonitorProgram ForRun();
  // The program in the file at `path`, with the same checks.
  static CMonitorProgram FromFile(const std::string& path);

  // kFlashMonitorImageSize bytes, valid as long as this object.
  const BYTE* Bytes() const { return m_file.empty() ? m_embedded : m_file.data(); }
  // "embedded stand-in", "embedded from the build option KV70_MONITOR_IMAGE (<file>)" or
  // "file <path>".
  const std::string& Origin() const { return m_origin; }

 private:
  const BYTE* m_embedded;
  std::vector<BYTE> m_file;
  std::string m_origin;
};
