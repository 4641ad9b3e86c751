#include "platform/Clock.h"

#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>
#include <limits>

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

QDateTime LocalNow()
{
    thread_local qint64 second = std::numeric_limits<qint64>::min();
    thread_local int offset = 0;
    thread_local QByteArray zone;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 thisSecond = now >= 0 ? now / 1000 : (now - 999) / 1000;
    const char *const tz = std::getenv("TZ");
    if (thisSecond != second || zone != tz) {
        second = thisSecond;
        zone = tz;
        offset = QDateTime::fromMSecsSinceEpoch(thisSecond * 1000).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(now, Qt::OffsetFromUTC, offset);
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
