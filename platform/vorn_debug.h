// The platform's debug output: a text as it stands, no line end added.
//
// On Windows this is OutputDebugStringA. Elsewhere the text goes to standard error, or, when the
// environment variable VORN_DEBUG_FD names an open file descriptor, to that descriptor (a host
// that wants to show the texts in their place among the commands sets it, as a debugger would
// catch OutputDebugStringA; a datagram socket keeps each text one message). Like
// OutputDebugStringA it never fails, never blocks and never raises a signal: a text that
// cannot be written at once is dropped.
#pragma once

void vorn_debug_output(const char* text);
