// The failure box a run shows before it ends as failed: the plug-in's name and version
// above the failure's text, owned by the host window.
#pragma once
#include "platform/winbase.h"

// Shows "<name> Version: <version>\n\n<text>" with `caption`, owned by `owner`, and waits
// until the user closes it.
void ShowFailureBox(const char* version, const char* text, HWND owner, const char* caption);

// The version the failure boxes of this module show. The application object sets it when
// it starts and clears it when it stops; until then the boxes show an empty version.
void SetFailureBoxVersion(const char* version);

// The failure box with the module's version and application name.
void ShowFailureMessage(const char* text, HWND owner);
