// The platform's debug output: a text as it stands, no line end added.
//
// On Windows this is OutputDebugStringA. Elsewhere the text goes to standard error, or, when the
// environment variable VORN_DEBUG_FD names an open file descriptor, to that descriptor (a host
// that wants to show the texts in their place among the commands sets it, as a debugger would
// catch OutputDebugStringA).
#pragma once

void vorn_debug_output(const char* text);
