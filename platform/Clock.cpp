#include "platform/Clock.h"

#include <QElapsedTimer>
#include <QThread>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace Platform {

namespace {
TTickCountHook &TickHook()
{
    static TTickCountHook hook;
    return hook;
}
} // namespace

uint32_t TickCount()
{
    if (TickHook())
        return TickHook()();
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<uint32_t>(clock.elapsed());
}

TTickCountHook SetTickCountHook(TTickCountHook hook)
{
    TTickCountHook old = std::move(TickHook());
    TickHook() = std::move(hook);
    return old;
}

void Sleep(int milliseconds)
{
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

void ReturnFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

} // namespace Platform
