#pragma once
// The demo's two readers: emulated OSDP readers (addresses 1 and 2) on one
// pseudo-terminal bus, with the demo database's Lector row pointing both
// stations at it. The stations talk the real protocol to them, Secure
// Channel included (keys set by sc=install at start).
#include "EmulatorHost.h"

#include <memory>

namespace parking {

class Clock;

// Opens the bus and rewrites the demo's port texts. Throws DatabaseError
// when the database cannot be changed or no pseudo-terminal can be had.
std::unique_ptr<osdp::EmulatorHost> startDemoReaders(const QString& databasePath, const Clock& serverClock);

} // namespace parking
