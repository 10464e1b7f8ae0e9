// Says where a plug-in crashed: the step or check that was running, and the signal (or, on
// Windows, the exception), on standard error, before the process ends as the crash would end
// it. A fault on what the host lent and has taken back (lent_memory.h) is named for what it
// is: "the plug-in read a reply after handing it back ([read-after-loan])".
#pragma once

// Installs the handlers (once) and names what runs from now on ("file.vorn:12 'press 1 X'").
// A plug-in that ends the process with exit() while something runs is reported the same way,
// and the process ends with status 1: "the plug-in ended the process (exit status 0) in ...".
void crashReportSet(const char* what);
// The report goes to this descriptor instead of standard error (a check's report to its
// parent); -1: standard error.
void crashReportTo(int fd);
// Nothing of the plug-in's runs any more: an exit from now on is vorn-host's own.
void crashReportClear();

// A limit on what runs now: when it has not ended within seconds, the process ends with status
// 1 after "the plug-in did not return within S s in ..." (no call into a plug-in can be taken
// back, so the run cannot go on). 0 seconds: no limit. Disarmed by the next call.
void crashReportLimit(int seconds);

// Ctrl-C (SIGINT) from now on asks the run to end as if its input had ended: it interrupts a
// wait for input, and the step that runs finishes first. True once it was pressed.
void interruptWatch();
bool interrupted();
