#pragma once
// The millisecond clock, the blocking sleep and the return of freed memory: what the layers below
// the windows need of the platform besides numbers and notices (Qt Core only).

#include <QDateTime>

#include <cstdint>
#include <functional>

namespace Platform {

// Milliseconds since an arbitrary start; wraps like a 32-bit tick counter.
uint32_t TickCount();
// A test's clock in place of the real one; an empty hook restores it. Returns the one before.
using TTickCountHook = std::function<uint32_t()>;
TTickCountHook SetTickCountHook(TTickCountHook hook);
// The local time now, as QDateTime::currentDateTime() gives it, at a fixed offset from UTC. The
// offset is asked of the system once a second (and when TZ changes), not at every call: asking
// reads the time-zone file each time. A change of the offset (daylight saving) shows from the first
// call in the second it takes effect.
QDateTime LocalNow();
// Blocks the calling thread; the user interface is not serviced meanwhile.
void Sleep(int milliseconds);
// Hands memory the program freed back to the system, where the allocator keeps it otherwise
// (after a large buffer such as a full log is emptied).
void ReturnFreedMemory();

} // namespace Platform
