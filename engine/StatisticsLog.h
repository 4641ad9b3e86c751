#pragma once
// Statistics.csv: one row per Run when it ends, with the figures of the time of flight the filter
// kept in it. Its header and row format live here and nowhere else; so does the reading of a
// Measurements.csv into the same rows.

#include "engine/MeasurementLog.h"
#include "engine/Statistics.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>

class QIODevice;

namespace StatisticsLog {

inline constexpr char FileName[] = "Statistics.csv";

QByteArray Header();
// time: when the Run ended.
QByteArray Line(const QDateTime &time, int64_t run, const TStatisticsFigures &figures);
// One line of figures for a person: "time of flight: 1244 values kept, mean 4.541012 us, SD 5.02
// ps, drift -0.31 ps/min, ADEV 10: 1.71 ps"; a figure the values do not define is left out.
QString Summary(const TStatisticsFigures &figures);

// Reads a Measurements.csv line by line: record for each line, header at each header line (the
// lines of another file, whose Runs count from 1 again, may follow one). False, with the line that
// does not fit in error, for a file that is not one (what came before it has been handed over).
bool ReadMeasurements(QIODevice &file, const std::function<void(const MeasurementLog::TReadLine &)> &record,
                      const std::function<void()> &header, QString &error);

// Reads a Measurements.csv and hands over the row of every Run in it, in order; a Run's time is
// that of its last line. False, with what does not fit in error, for a file that is not one
// (rows of the Runs before the fault have been handed over by then).
bool FromMeasurements(QIODevice &file, const std::function<void(const QByteArray &row)> &row, QString &error);

} // namespace StatisticsLog
