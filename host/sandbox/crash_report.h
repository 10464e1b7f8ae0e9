// Says where a plug-in crashed: the step or check that was running, and the signal (or, on
// Windows, the exception), before the process ends as the crash would end it. In a sandbox's
// child the report is a message of the channel (sandbox.h) that the parent words; elsewhere a
// line on standard error. A fault on what the host lent and has taken back (lent_memory.h) is
// named for what it is: "the plug-in read a reply after handing it back ([read-after-loan])".
#pragma once

#include <chrono>

// Installs the handlers (once) and names what runs from now on ("file.vorn:12 'press 1 X'").
// A plug-in that ends the process with exit() while something runs is reported the same way:
// outside a sandbox's child the process then ends with status 1.
// A job made of parts (the lives of a check) can say which part and step (counting from 1)
// runs: a report in a sandbox's child then carries them as numbers ("part", "step").
void crashReportSet(const char* what, int part = -1, int step = -1);
// The reports go to this descriptor, the channel to the parent, as its messages; -1: lines on
// standard error.
void crashReportTo(int fd);
// Nothing of the plug-in's runs any more: an exit from now on is vorn-host's own.
void crashReportClear();

// A limit on what runs now: when it has not ended within it, the process ends with status 1
// after "the plug-in did not return within S s in ..." ("N ms" for a limit of no whole seconds;
// no call into a plug-in can be taken back, so the run cannot go on). 0: no limit. Disarmed by
// the next call.
void crashReportLimit(std::chrono::milliseconds limit);

// Ctrl-C (SIGINT) from now on asks the run to end as if its input had ended: it interrupts a
// wait for input, and the step that runs finishes first. True once it was pressed.
void interruptWatch();
bool interrupted();
