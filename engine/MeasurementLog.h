#pragma once
// Measurements.csv: one line per computed report, time-stamped, with a header that names each
// column and its unit, so that the file can be read by anyone who plots it without knowing the
// instrument. Its header and line format live here and nowhere else.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <limits>

namespace MeasurementLog {

inline constexpr char FileName[] = "Measurements.csv";
// The temperature of a report that came before any told one: an empty field, which CSV readers
// take as missing, not as 0 degrees.
inline constexpr float NoTemperature = std::numeric_limits<float>::quiet_NaN();

// Decimals of the fixed-point fields; whatever else carries a report's values (a message to a
// broker) writes them so too. The time of flight carries as many decimals as the phase resolves:
// 0.001 degree of a 0.25 us cycle is below a picosecond.
inline constexpr int TimeOfFlightDecimals = 6;
inline constexpr int PhaseDecimals = 3;
inline constexpr int TemperatureDecimals = 2;

// One computed report, as it was when it was computed.
struct TRecord {
    QDateTime Time;      // local time
    int64_t Run = 0;     // the Run that asked for it, numbered on from the file's last; 0 outside a Run
    int32_t BigCount = 0; // the instrument's coarse count (cycles x 16)
    int32_t M1 = 0, M2 = 0;
    float PhaseDeg = 0;
    float TimeOfFlight = 0; // microseconds
    float Temperature = NoTemperature; // degrees Celsius; the last one reported
};

QByteArray Header();
// A line as read back: the record, and its phase and time of flight as written (a float would
// round the sixth decimal of the time of flight).
struct TReadLine {
    TRecord Record;
    bool Kept = false;
    double PhaseDeg = 0;
    double TimeOfFlight = 0;
};
// False for text that is not a line of the file (the header is not one).
bool Read(const QByteArray &line, TReadLine &read);
// The record's line; kept: whether the filter kept the report (1) or dropped it as an outlier (0).
QByteArray Line(const TRecord &record, bool kept);
// ISO 8601 local time with milliseconds and the offset from UTC, such as
// 2026-12-07T10:15:00.250+01:00: unambiguous across a change to or from summer time.
QByteArray TimeText(const QDateTime &time);

// The largest Run number among the readable lines at the end of the file at path (its last
// TailBytes, read from the end, so a file of any size costs one small read); 0 when there is no
// such line (no file, an empty one, a header alone). A line that is not a record (cut short by a
// crash, or garbage) is passed over: the Runs before it still count.
int64_t LastRun(const QString &path);
inline constexpr qint64 TailBytes = 64 * 1024;

} // namespace MeasurementLog
