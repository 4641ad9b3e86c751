#include "engine/LinkHealth.h"

#include "engine/Reports.h"

#include <QStringList>

#include <algorithm>

TLinkCounts &TLinkCounts::operator+=(const TLinkCounts &o)
{
    Commands += o.Commands;
    Asks += o.Asks;
    Replies += o.Replies;
    Missing += o.Missing;
    Late += o.Late;
    Refused += o.Refused;
    Noise += o.Noise;
    Cycles += o.Cycles;
    return *this;
}

double TLinkHealth::LineLimit(int32_t baudRate)
{
    constexpr double LineEnd = 2;
    const double bytesPerCycle = (97 * (Reports::MeanLength + LineEnd) + 3 * (Reports::DifferenceLength + LineEnd)) / 100.0;
    return baudRate / 10.0 / bytesPerCycle;
}

TLinkCounts &TLinkHealth::Bucket(uint32_t now)
{
    const int64_t second = now / 1000;
    const size_t at = size_t(second % int64_t(FBuckets.size()));
    if (FBucketSecond[at] != second) {
        FBucketSecond[at] = second;
        FBuckets[at] = TLinkCounts();
    }
    return FBuckets[at];
}

template <typename F> void TLinkHealth::Count(uint32_t now, F change)
{
    change(FRun);
    change(FTotal);
    change(Bucket(now));
}

void TLinkHealth::BeginRun(uint32_t now)
{
    FRun = TLinkCounts();
    FRunning = true;
    FRunStart = now;
    // Asks of an earlier Run that never got their report are its own: forgotten here.
    FExpired = 0;
    FBuckets.fill(TLinkCounts());
    FBucketSecond.fill(-1);
}

void TLinkHealth::ResumeRun(uint32_t now)
{
    FRunning = true;
    FRunStart = now;
}

void TLinkHealth::EndRun(uint32_t now)
{
    WaitEnded(now);
    FRunning = false;
}

void TLinkHealth::CommandSent(uint32_t now, bool asks)
{
    // An ask sent while the one before still waits: that one's wait is over.
    if (asks)
        WaitEnded(now);
    Count(now, [asks](TLinkCounts &c) {
        ++c.Commands;
        c.Asks += asks ? 1 : 0;
    });
    if (asks)
        FAskWaiting = true;
}

void TLinkHealth::ReplyTaken(uint32_t now, bool refused)
{
    const bool late = !FAskWaiting && FExpired > 0;
    if (FAskWaiting)
        FAskWaiting = false;
    else if (late)
        --FExpired;
    Count(now, [refused, late](TLinkCounts &c) {
        ++c.Replies;
        c.Refused += refused ? 1 : 0;
        if (late) {
            c.Missing = c.Missing > 0 ? c.Missing - 1 : 0;
            ++c.Late;
        }
    });
}

void TLinkHealth::WaitEnded(uint32_t now)
{
    if (!FAskWaiting)
        return;
    FAskWaiting = false;
    ++FExpired;
    Count(now, [](TLinkCounts &c) { ++c.Missing; });
}

void TLinkHealth::CycleDone(uint32_t now)
{
    Count(now, [](TLinkCounts &c) { ++c.Cycles; });
}

void TLinkHealth::NoiseBytes(uint32_t now, int64_t count)
{
    // A negative count takes back bytes that turned out to be a report's.
    Count(now, [count](TLinkCounts &c) { c.Noise = std::max<int64_t>(0, c.Noise + count); });
}

TLinkFigures TLinkHealth::Figures(uint32_t now) const
{
    TLinkFigures f;
    f.Run = FRun;
    f.Total = FTotal;
    f.Running = FRunning;
    const int64_t second = now / 1000;
    for (size_t i = 0; i < FBuckets.size(); ++i)
        if (FBucketSecond[i] > second - WindowSeconds && FBucketSecond[i] <= second)
            f.Window += FBuckets[i];
    // The window reaches back ten seconds, or to the Run's start when that is nearer.
    const double sinceStart = FRunning ? (now - FRunStart) / 1000.0 : double(WindowSeconds);
    f.WindowSeconds = std::clamp(sinceStart, 0.0, double(WindowSeconds));
    f.Rate = f.WindowSeconds > 0 ? f.Window.Cycles / f.WindowSeconds : 0;
    const double limit = LineLimit(FBaudRate);
    f.LineShare = limit > 0 ? f.Rate / limit : 0;
    f.Warning = WarningText(f.Window, f.WindowSeconds, f.Rate, f.LineShare, FRunning);
    return f;
}

QString TLinkHealth::WarningText(const TLinkCounts &window, double seconds, double rate, double share, bool running)
{
    if (!running)
        return QString();
    QStringList parts;
    const auto percent = [&window](int64_t n) { return qRound(100.0 * double(n) / double(window.Asks)); };
    if (window.Asks >= MinimumAsks
        && double(window.Missing + window.Late + window.Refused) > BadReplyShare * double(window.Asks)) {
        // A share that rounds to "0 %" says nothing and is left out.
        QStringList shares;
        if (percent(window.Missing) > 0)
            shares << QStringLiteral("%1 % of replies missing").arg(percent(window.Missing));
        if (percent(window.Late) > 0)
            shares << QStringLiteral("%1 % late").arg(percent(window.Late));
        if (percent(window.Refused) > 0)
            shares << QStringLiteral("%1 % refused").arg(percent(window.Refused));
        // The first names what it is a share of.
        if (!shares.isEmpty() && !shares.first().contains("replies"))
            shares.first().replace(" % ", " % of replies ");
        parts << shares.join(", ") + QStringLiteral(" in the last %1 s").arg(qRound(seconds));
    }
    if (seconds >= MinimumRateSeconds && share < LowRateShare)
        parts << QStringLiteral("%1 cycles/s in the last %2 s, %3 % of what the line allows")
                     .arg(rate, 0, 'f', 1)
                     .arg(qRound(seconds))
                     .arg(qRound(100.0 * share));
    return parts.join("; ");
}

QString TLinkHealth::Summary(const TLinkCounts &c, double lineShare, bool withShare)
{
    QString text = QStringLiteral("%1 sent, %2 replies, %3 missing, %4 late, %5 refused, %6 noise bytes")
                       .arg(c.Commands)
                       .arg(c.Replies)
                       .arg(c.Missing)
                       .arg(c.Late)
                       .arg(c.Refused)
                       .arg(c.Noise);
    if (withShare)
        text += QStringLiteral(", %1 % of the line").arg(qRound(100.0 * lineShare));
    return text;
}
