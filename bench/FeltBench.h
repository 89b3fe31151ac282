// What a user feels of performance; each runs in a child process and prints one line of figures.
#pragma once

#include <string>

namespace bench {

// mode "events": the main window over the substitute driver in asynchronous mode, data events on,
// polling 50 ms, 20 messages a second; "idle": the main window as started; "bare=<blueprint
// file>": a bare window with the same controls. Prints "<cpu seconds> <wall seconds> <messages>"
// for a run of the given length.
int MeasureCpuShare(const std::string& mode, int seconds);

// The time from the driver's data event (posted from its worker thread, one every 50 ms) to the
// new weight painted and flushed on the xcb platform, over the fake driver. Prints "<painted>
// <raised> <median ms> <p99 ms> <max ms>", or a line saying why it was skipped.
int MeasureEventToPaint(int events);

} // namespace bench
