// A data event that a driver in the driver host raised on a thread of its own: the host moves it
// to its apartment's thread and passes it on to Ponderix from there (tools/ponderix-host.cpp),
// with two named arguments that say where it came from, so that Ponderix names the fault as it
// does for a driver in its own process (driver/Statera.cpp). Header only: the host links no
// library of ours.
#pragma once

namespace platform::hostevents {

// Dispatch ids of the named arguments, both thread ids as VT_I4 (the event itself takes none).
constexpr long kRaisedOnArgument = 0x50580001;  // the driver's thread that raised the event
constexpr long kCreatedOnArgument = 0x50580002; // the host's apartment thread, which created the driver

} // namespace platform::hostevents
