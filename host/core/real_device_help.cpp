#include "host/core/real_device_help.h"

namespace velmora {

std::string RealDeviceHelp(HelpFor host) {
  const bool terminal = host == HelpFor::Terminal;
  std::string text = R"(Running on a real KV70:
 1. Cable and port: plug the KV70's RS-232 cable into a serial port of this PC (a
    USB-serial adapter shows up as /dev/ttyUSB0, a built-in port as /dev/ttyS0;
    "velmora ports" lists them). The user needs read and write access to it: join the
    dialout group (sudo usermod -aG dialout $USER, then log in again).
)";
  text +=
      terminal
          ? R"( 2. --device names that port for the COM port the plug-in opens (--port, default 1):
      velmora run config --device /dev/ttyUSB0
)"
          : R"( 2. --device names that port for the COM port the plug-in opens (--port, default 1),
    or choose it under "Connected to" in the start window:
      velmora-gui --device /dev/ttyUSB0
)";
  text += R"( 3. The monitor program: every run uploads an 8554-byte flash monitor program into the
    KV70's RAM. Unless the plug-in was built with cmake -DKV70_MONITOR_IMAGE=PATH, the
    one built into it is a stand-in that only the simulator runs; a real KV70 needs the
    device's own program, which comes with the KV70's service software, not with
    velmora. Give its file with --monitor-image PATH (the same as setting
    VELMORA_KV70_MONITOR=PATH), or build the plug-in with that option. A file that is
    missing, unreadable, a directory or not exactly 8554 bytes ends the run before the
    port is opened.)";
  text += terminal ? " The wire trace (--trace) says which program a run uploaded.\n" : "\n";
  text += R"( 4. The firmware file: register it once with "velmora firmware add FILE", or name the
    file itself with --firmware, which registers it first.
 5. On the display: when the status says "Establishing communication with the KV70.
    Please wait...", restart the KV70. Its boot ROM calls the PC, progress climbs from 20%
    to 90% while the monitor program is uploaded, then the operation runs; at the end the
    KV70 is restarted. An upgrade that sees the KV70 call more than once asks you to
    "Check KV70 display." first.
 6. Failure 806 right after the upload ("Device failure! [806] ...") means the uploaded
    program did not answer: it is not the KV70's own monitor program (the built-in
    stand-in, or a wrong file). Give the right file with --monitor-image and run again.
)";
  return text;
}

}  // namespace velmora
