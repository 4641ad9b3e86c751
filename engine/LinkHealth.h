#pragma once
// How well the line carries the Run: commands sent, replies received, missing, late and refused,
// bytes that were in no report, and the cycle rate beside what the line's speed allows. Counted
// per Run and since the start, and over the last ten seconds for the warning. Needs no clock of
// its own: every call is given the millisecond tick it happens at.

#include <QString>

#include <array>
#include <cstdint>

struct TLinkCounts {
    int64_t Commands = 0; // command bytes sent
    int64_t Asks = 0;     // of them, those that ask for a report
    int64_t Replies = 0;  // reports received, refused ones included
    int64_t Missing = 0;  // asks whose report has not come (none within the wait, none since)
    int64_t Late = 0;     // reports that came after their wait had ended
    int64_t Refused = 0;  // reports with a field that could not be read
    int64_t Noise = 0;    // bytes in no report, line ends not counted
    int64_t Cycles = 0;   // Run cycles

    TLinkCounts &operator+=(const TLinkCounts &o);
};

struct TLinkFigures {
    TLinkCounts Run;   // the current (or last) Run
    TLinkCounts Total; // since the start
    TLinkCounts Window; // the last WindowSeconds
    double WindowSeconds = 0;
    double Rate = 0;      // Run cycles a second over the window
    double LineShare = 0; // Rate as a share of what the line allows (1 = all of it)
    bool Running = false;
    QString Warning;      // what is wrong over the window, empty while the link is healthy
};

class TLinkHealth {
public:
    static constexpr int WindowSeconds = 10;
    // More than this share of asks without a good reply in time is told.
    static constexpr double BadReplyShare = 0.05;
    // A rate below this share of the line's limit is told.
    static constexpr double LowRateShare = 0.5;
    // Asks in the window, and seconds of Run, before a share means anything.
    static constexpr int MinimumAsks = 20;
    static constexpr int MinimumRateSeconds = 5;

    // The most Run cycles a second that a line of this many bits a second carries (8N1, ten bits a
    // byte): 97 of every 100 cycles bring a mean report, 3 a difference report, each with its CR LF.
    static double LineLimit(int32_t baudRate);
    void SetBaudRate(int32_t baudRate) { FBaudRate = baudRate; }

    void BeginRun(uint32_t now);
    void EndRun(uint32_t now);
    // The Run that ended goes on, its counts with it.
    void ResumeRun(uint32_t now);
    // A command byte went out; asks: it asks for a report.
    void CommandSent(uint32_t now, bool asks);
    // A report was taken: in time when the last ask is still waiting, else late for an earlier one.
    void ReplyTaken(uint32_t now, bool refused);
    // The wait for the last ask ended (or its line closed): without its report, it is missing.
    void WaitEnded(uint32_t now);
    void CycleDone(uint32_t now);
    void NoiseBytes(uint32_t now, int64_t count);

    TLinkFigures Figures(uint32_t now) const;
    const TLinkCounts &Total() const { return FTotal; }
    const TLinkCounts &Run() const { return FRun; }
    // "Link: 1200 sent, 1180 replies, 12 missing, 3 late, 5 refused, 0 noise bytes, 87 % of the line"
    static QString Summary(const TLinkCounts &counts, double lineShare, bool withShare);
    static QString WarningText(const TLinkCounts &window, double seconds, double rate, double share, bool running);

private:
    TLinkCounts &Bucket(uint32_t now);
    template <typename F> void Count(uint32_t now, F change);

    int32_t FBaudRate = 115200;
    TLinkCounts FRun, FTotal;
    // One bucket a second, for the window.
    std::array<TLinkCounts, WindowSeconds + 1> FBuckets{};
    std::array<int64_t, WindowSeconds + 1> FBucketSecond{};
    bool FRunning = false;
    uint32_t FRunStart = 0;
    bool FAskWaiting = false;  // the last ask's report may still come in time
    int64_t FExpired = 0;      // asks whose wait ended without a report; a late one answers one
};
