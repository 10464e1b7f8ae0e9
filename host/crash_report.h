// Says where a plug-in crashed: the step or check that was running, and the signal (or, on
// Windows, the exception), on standard error, before the process ends as the crash would end
// it.
#pragma once

// Installs the handlers (once) and names what runs from now on ("file.vorn:12 'press 1 X'").
void crashReportSet(const char* what);
