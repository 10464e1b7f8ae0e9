// Says where a plug-in crashed: the step or check that was running, and the signal (or, on
// Windows, the exception), on standard error, before the process ends as the crash would end
// it.
#pragma once

// Installs the handlers (once) and names what runs from now on ("file.vorn:12 'press 1 X'").
// A plug-in that ends the process with exit() while something runs is reported the same way,
// and the process ends with status 1: "the plug-in ended the process (exit status 0) in ...".
void crashReportSet(const char* what);
// Nothing of the plug-in's runs any more: an exit from now on is vorn-host's own.
void crashReportClear();
