#include "engine/Statistics.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double PicosecondsPerMicrosecond = 1e6;
constexpr double SecondsPerMinute = 60;
constexpr double MsPerSecond = 1000;
constexpr double FullCircle = 360;

// The phase as the nearest turn to `about` gives it: values on both sides of 0 degrees are one
// cluster, not two at the ends of the scale.
double Unwrapped(double phase, double about)
{
    return phase - FullCircle * std::round((phase - about) / FullCircle);
}

// 0 to 360; a mean a rounding error short of a full turn is 0, not 360.
double Circle(double phase)
{
    constexpr double Rounding = 1e-9;
    double reduced = std::fmod(phase, FullCircle);
    if (reduced < 0)
        reduced += FullCircle;
    return reduced > FullCircle - Rounding ? 0 : reduced;
}

double SampleSD(double m2, int64_t count)
{
    return std::sqrt(std::max(0.0, m2) / double(count - 1));
}

// Allan deviation in ps from the sum of squared differences of K consecutive group means (us).
std::optional<double> Adev(double sumSquares, int64_t groups)
{
    if (groups < 2)
        return std::nullopt;
    return std::sqrt(std::max(0.0, sumSquares) / (2.0 * double(groups - 1))) * PicosecondsPerMicrosecond;
}

// What the moments give, the same for a Run and for the last N.
void FillMoments(TStatisticsFigures &figures, int64_t count, double reference, double mean, double m2, double least,
                 double most, double m2Seconds, double coMoment, double meanPhase, double m2Phase)
{
    figures.Count = count;
    if (count < 1)
        return;
    figures.MeanTOF = reference + mean;
    figures.MinTOF = reference + least;
    figures.MaxTOF = reference + most;
    figures.PeakToPeakTOF = (most - least) * PicosecondsPerMicrosecond;
    figures.MeanPhase = Circle(meanPhase);
    if (count < 2)
        return;
    figures.SDTOF = SampleSD(m2, count) * PicosecondsPerMicrosecond;
    figures.SDPhase = SampleSD(m2Phase, count);
    // All values at one instant have no slope.
    if (m2Seconds > 0)
        figures.Drift = coMoment / m2Seconds * PicosecondsPerMicrosecond * SecondsPerMinute;
}

} // namespace

void TRunningStatistics::Add(const TStatisticsValue &value)
{
    if (FCount == 0) {
        FReference = value.TimeOfFlight;
        FTimeZero = value.TimeMs;
        FMeanPhase = value.PhaseDeg;
    }
    const double offset = value.TimeOfFlight - FReference;
    const double seconds = double(value.TimeMs - FTimeZero) / MsPerSecond;
    const double phase = Unwrapped(value.PhaseDeg, FMeanPhase);
    const double n = double(++FCount);
    if (FCount == 1) {
        FMin = FMax = offset;
    } else {
        FMin = std::min(FMin, offset);
        FMax = std::max(FMax, offset);
    }

    const double dy = offset - FMean;
    const double dx = seconds - FMeanSeconds;
    FMean += dy / n;
    FMeanSeconds += dx / n;
    FM2 += dy * (offset - FMean);
    FM2Seconds += dx * (seconds - FMeanSeconds);
    FCoMoment += dx * (offset - FMean);
    const double dp = phase - FMeanPhase;
    FMeanPhase += dp / n;
    FM2Phase += dp * (phase - FMeanPhase);

    for (size_t i = 0; i < AdevSpans.size(); ++i) {
        TAllan &allan = FAllan[i];
        allan.GroupSum += offset;
        if (++allan.GroupCount < AdevSpans[i])
            continue;
        const double mean = allan.GroupSum / AdevSpans[i];
        if (allan.Groups > 0)
            allan.SumSquares += (mean - allan.Previous) * (mean - allan.Previous);
        allan.Previous = mean;
        ++allan.Groups;
        allan.GroupSum = 0;
        allan.GroupCount = 0;
    }
}

TStatisticsFigures TRunningStatistics::Figures() const
{
    TStatisticsFigures figures;
    FillMoments(figures, FCount, FReference, FMean, FM2, FMin, FMax, FM2Seconds, FCoMoment, FMeanPhase, FM2Phase);
    for (size_t i = 0; i < AdevSpans.size(); ++i)
        figures.ADEV[i] = Adev(FAllan[i].SumSquares, FAllan[i].Groups);
    return figures;
}

TWindowStatistics::TWindowStatistics(int32_t size)
    : FSize(std::clamp(size, MinSize, MaxSize)), FRing(size_t(FSize), TEntry{})
{
}

void TWindowStatistics::SetSize(int32_t size)
{
    size = std::clamp(size, MinSize, MaxSize);
    if (size == FSize)
        return;
    while (int64_t(FCount) > size)
        Remove();
    // The ring again, oldest first, at its new size.
    std::vector<TEntry> ring(size_t(size), TEntry{});
    for (size_t i = 0; i < FCount; ++i)
        ring[i] = At(i);
    FRing = std::move(ring);
    FHead = 0;
    FSize = size;
    if (FCount > 0)
        Rebase();
}

void TWindowStatistics::Clear()
{
    std::vector<TEntry> ring = std::move(FRing);
    *this = TWindowStatistics(FSize);
    FRing = std::move(ring); // its entries are free
}

void TWindowStatistics::Add(const TStatisticsValue &value)
{
    if (FCount == 0) {
        Clear();
        FReference = value.TimeOfFlight;
        FTimeZero = value.TimeMs;
        FMeanPhase = value.PhaseDeg;
    }
    if (int64_t(FCount) >= FSize)
        Remove();
    TEntry entry;
    entry.Offset = value.TimeOfFlight - FReference;
    entry.Seconds = double(value.TimeMs - FTimeZero) / MsPerSecond;
    entry.Phase = Unwrapped(value.PhaseDeg, FMeanPhase);
    entry.Prefix = PrefixBefore(FCount) + entry.Offset;
    if (FCount > 0) {
        const double step = entry.Offset - At(FCount - 1).Offset;
        FSquaresOne += step * step;
    }

    const double n = double(FCount + 1);
    const double dy = entry.Offset - FMean;
    const double dx = entry.Seconds - FMeanSeconds;
    FMean += dy / n;
    FMeanSeconds += dx / n;
    FM2 += dy * (entry.Offset - FMean);
    FM2Seconds += dx * (entry.Seconds - FMeanSeconds);
    FCoMoment += dx * (entry.Offset - FMean);
    const double dp = entry.Phase - FMeanPhase;
    FMeanPhase += dp / n;
    FM2Phase += dp * (entry.Phase - FMeanPhase);

    // A candidate for the least or the most stays while no newer value beats it.
    const int64_t position = FAdded++;
    while (!FLeast.empty() && FLeast.back().second >= entry.Offset)
        FLeast.pop_back();
    FLeast.emplace_back(position, entry.Offset);
    while (!FMost.empty() && FMost.back().second <= entry.Offset)
        FMost.pop_back();
    FMost.emplace_back(position, entry.Offset);
    At(FCount) = entry;
    ++FCount;

    // Once per window's worth of values: a pass over N, a constant share of each value.
    if (++FSinceRebase >= FSize)
        Rebase();
}

void TWindowStatistics::Remove()
{
    const TEntry gone = At(0);
    const int64_t position = FAdded - int64_t(FCount);
    const double n = double(FCount);
    if (FCount == 1) {
        Clear();
        return;
    }
    // Welford's update backwards: the means without the value, then its share of the sums.
    const double dy = gone.Offset - FMean;
    const double dx = gone.Seconds - FMeanSeconds;
    const double dp = gone.Phase - FMeanPhase;
    FMean -= dy / (n - 1);
    FMeanSeconds -= dx / (n - 1);
    FMeanPhase -= dp / (n - 1);
    FM2 -= (gone.Offset - FMean) * dy;
    FM2Seconds -= (gone.Seconds - FMeanSeconds) * dx;
    FCoMoment -= (gone.Seconds - FMeanSeconds) * dy;
    FM2Phase -= (gone.Phase - FMeanPhase) * dp;
    const double step = At(1).Offset - gone.Offset;
    FSquaresOne -= step * step;
    FPrefixBase = gone.Prefix;
    if (FLeast.front().first == position)
        FLeast.pop_front();
    if (FMost.front().first == position)
        FMost.pop_front();
    FHead = FHead + 1 == FRing.size() ? 0 : FHead + 1;
    --FCount;
}

void TWindowStatistics::Rebase()
{
    FSinceRebase = 0;
    const double n = double(FCount);
    // The reference moves to the mean and the time to the oldest value, so the offsets stay small.
    const double shift = FMean;
    const double shiftSeconds = At(0).Seconds;
    FReference += shift;
    FTimeZero += int64_t(std::llround(shiftSeconds * MsPerSecond)); // whole milliseconds, as they came
    double sum = 0, sumSeconds = 0, sumPhase = 0;
    for (size_t i = 0; i < FCount; ++i) {
        TEntry &entry = At(i);
        entry.Offset -= shift;
        entry.Seconds -= shiftSeconds;
        sum += entry.Offset;
        sumSeconds += entry.Seconds;
        sumPhase += entry.Phase;
    }
    FMean = sum / n;
    FMeanSeconds = sumSeconds / n;
    FMeanPhase = sumPhase / n;
    FM2 = FM2Seconds = FCoMoment = FM2Phase = FSquaresOne = 0;
    FPrefixBase = 0;
    double prefix = 0;
    double last = 0;
    for (size_t i = 0; i < FCount; ++i) {
        TEntry &entry = At(i);
        const double dy = entry.Offset - FMean;
        const double dx = entry.Seconds - FMeanSeconds;
        const double dp = entry.Phase - FMeanPhase;
        FM2 += dy * dy;
        FM2Seconds += dx * dx;
        FCoMoment += dx * dy;
        FM2Phase += dp * dp;
        if (i > 0)
            FSquaresOne += (entry.Offset - last) * (entry.Offset - last);
        last = entry.Offset;
        prefix += entry.Offset;
        entry.Prefix = prefix;
    }
    for (auto *candidates : {&FLeast, &FMost})
        for (auto &candidate : *candidates)
            candidate.second -= shift;
}

TStatisticsFigures TWindowStatistics::Figures() const
{
    TStatisticsFigures figures;
    const int64_t count = int64_t(FCount);
    FillMoments(figures, count, FReference, FMean, FM2, count ? FLeast.front().second : 0,
                count ? FMost.front().second : 0, FM2Seconds, FCoMoment, FMeanPhase, FM2Phase);
    for (size_t i = 0; i < AdevSpans.size(); ++i) {
        const size_t span = size_t(AdevSpans[i]);
        const int64_t groups = count / int64_t(span);
        if (span == 1) {
            figures.ADEV[i] = Adev(FSquaresOne, groups);
            continue;
        }
        // Group means from the sums up to each group's edges.
        double sumSquares = 0, previous = 0, edge = FPrefixBase;
        for (int64_t k = 0; k < groups; ++k) {
            const double next = At(size_t(k + 1) * span - 1).Prefix;
            const double mean = (next - edge) / double(span);
            edge = next;
            if (k > 0)
                sumSquares += (mean - previous) * (mean - previous);
            previous = mean;
        }
        figures.ADEV[i] = Adev(sumSquares, groups);
    }
    return figures;
}

void TStatistics::BeginRun(int64_t run)
{
    FRun = run;
    FRunValues.Reset();
}

void TStatistics::Add(const TBatch &batch)
{
    for (const TReport &report : batch) {
        if (!report.Kept)
            continue;
        const TStatisticsValue value = ValueOf(report);
        FWindow.Add(value);
        if (FRun != 0 && report.Record.Run == FRun)
            FRunValues.Add(value);
    }
}

TStatisticsValue TStatistics::ValueOf(const TReport &report)
{
    return {double(report.Record.TimeOfFlight), report.Record.Time.toMSecsSinceEpoch(), double(report.Record.PhaseDeg)};
}
