#pragma once

// The Windows console's control events for the flasher's interrupt guard, without Qt (built with
// mingw-w64 and run under wine in tests/win32). While caught, Ctrl-C, Ctrl-Break and the console's
// close, a logoff or a shutdown reach the sink as the number of the signal that stands for them on
// POSIX, and none of them ends the process by itself (a closed console ends it a few seconds later
// whatever a program does; the sink stops the installation at once meanwhile). The sink runs on a
// thread of the system's: it must only hand the number on.
namespace ConsoleControl {

enum Event
{
    HangUp = 1,     // the console was closed, the user logs off or the system shuts down (SIGHUP)
    Interrupt = 2,  // Ctrl-C (SIGINT)
    Terminate = 15, // not sent by a console; SIGTERM's number, for the guard's words
    Break = 21      // Ctrl-Break (SIGBREAK)
};

using Sink = void (*)(int event);

// Routes the events to `sink` from now on; false when the system refused the handler.
bool catchEvents(Sink sink);
// The events have their default action again: Ctrl-C ends the process.
void releaseEvents();
// What the handler does with one control type (CTRL_C_EVENT...): hands it to the sink and
// returns nonzero when it is taken, 0 for the system's default action.
int handle(unsigned long controlType);

} // namespace ConsoleControl
