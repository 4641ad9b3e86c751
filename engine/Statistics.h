#pragma once
// How precise and how stable the time of flight is: figures over the values the filter kept, for
// the Run and for the last N kept values. Each value costs a constant amount of work; the last N's
// figures cost a pass over their group means, not over the values. Everything is carried in
// double and centred (Welford's updates, offsets from a reference), so that no square of a 4.5 us
// value ever meets a picosecond difference.

#include "engine/Report.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// The group sizes the Allan deviation is given for.
inline constexpr std::array<int32_t, 3> AdevSpans{1, 10, 100};

// The figures of a stretch of kept values; a figure its values do not define is empty.
struct TStatisticsFigures {
    int64_t Count = 0;
    std::optional<double> MeanTOF, MinTOF, MaxTOF; // us
    std::optional<double> SDTOF, PeakToPeakTOF;    // ps; the SD is the sample one (n - 1)
    std::optional<double> Drift;                   // ps per minute, least-squares slope against the report's time
    std::optional<double> MeanPhase, SDPhase;      // degrees; the mean in 0..360
    std::array<std::optional<double>, AdevSpans.size()> ADEV; // ps, for each of AdevSpans
};

// One kept value: the time of flight (us), when its report came (ms since the epoch), its phase.
struct TStatisticsValue {
    double TimeOfFlight = 0;
    int64_t TimeMs = 0;
    double PhaseDeg = 0;
};

// Every value of a stretch that only grows (a Run).
class TRunningStatistics {
public:
    void Add(const TStatisticsValue &value);
    void Reset() { *this = TRunningStatistics(); }
    TStatisticsFigures Figures() const;
    int64_t Count() const { return FCount; }

private:
    int64_t FCount = 0;
    double FReference = 0; // the first value: the Allan groups are summed as offsets from it
    int64_t FTimeZero = 0; // the first value's time
    double FMean = 0, FM2 = 0, FMin = 0, FMax = 0;
    double FMeanSeconds = 0, FM2Seconds = 0, FCoMoment = 0; // time against time of flight
    double FMeanPhase = 0, FM2Phase = 0; // phases unwrapped about their mean
    struct TAllan {
        double GroupSum = 0;
        int32_t GroupCount = 0;
        double Previous = 0; // the last whole group's mean offset
        int64_t Groups = 0;
        double SumSquares = 0; // of the differences of consecutive group means
    };
    std::array<TAllan, AdevSpans.size()> FAllan{};
};

// The last N values, sliding: a value in, the oldest out.
class TWindowStatistics {
public:
    static constexpr int32_t MinSize = 32, MaxSize = 100000, DefaultSize = 1000;
    explicit TWindowStatistics(int32_t size = DefaultSize);
    // Clamped to MinSize..MaxSize; the newest values that fit stay.
    void SetSize(int32_t size);
    int32_t Size() const { return FSize; }
    void Add(const TStatisticsValue &value);
    void Clear();
    TStatisticsFigures Figures() const;
    int64_t Count() const { return int64_t(FCount); }

private:
    struct TEntry {
        double Offset;  // time of flight less the reference
        double Seconds; // since the reference time
        double Phase;   // unwrapped about the mean when it came; taken out as it went in
        double Prefix;  // sum of the offsets up to this one, from the reference sum
    };
    void Remove();
    // Everything again from the values held: what adding and taking out has rounded goes.
    void Rebase();
    // The value at a position of the window, oldest first.
    TEntry &At(size_t position)
    {
        const size_t index = FHead + position;
        return FRing[index < FRing.size() ? index : index - FRing.size()];
    }
    const TEntry &At(size_t position) const { return const_cast<TWindowStatistics *>(this)->At(position); }
    double PrefixBefore(size_t position) const { return position == 0 ? FPrefixBase : At(position - 1).Prefix; }

    int32_t FSize;
    // The values held, in a ring of FSize: FCount of them from FHead on.
    std::vector<TEntry> FRing;
    size_t FHead = 0, FCount = 0;
    double FReference = 0;
    int64_t FTimeZero = 0;
    double FPrefixBase = 0;
    int64_t FSinceRebase = 0;
    double FMean = 0, FM2 = 0; // of the offsets
    double FMeanSeconds = 0, FM2Seconds = 0, FCoMoment = 0;
    double FMeanPhase = 0, FM2Phase = 0;
    double FSquaresOne = 0; // squared differences of neighbours: the Allan variance at 1
    // Positions (counted since the start) and offsets of the candidates for the least and most.
    std::deque<std::pair<int64_t, double>> FLeast, FMost;
    int64_t FAdded = 0;
};

// The statistics the engine keeps: the current (or last) Run's and the last N kept values'.
class TStatistics {
public:
    // A Run begins: its figures start again.
    void BeginRun(int64_t run);
    int64_t Run() const { return FRun; }
    // The kept reports of a processed batch; those of the Run go to its figures too.
    void Add(const TBatch &batch);
    void SetWindowSize(int32_t size) { FWindow.SetSize(size); }
    int32_t WindowSize() const { return FWindow.Size(); }
    TStatisticsFigures RunFigures() const { return FRunValues.Figures(); }
    TStatisticsFigures WindowFigures() const { return FWindow.Figures(); }

    static TStatisticsValue ValueOf(const TReport &report);

private:
    int64_t FRun = 0;
    TRunningStatistics FRunValues;
    TWindowStatistics FWindow;
};
