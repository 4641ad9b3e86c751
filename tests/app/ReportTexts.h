#pragma once
// Reports as the instrument sends them, for window tests.

#include <QByteArray>
#include <QList>
#include <QPair>

// A record of `length` filler characters with the given fields written at their offsets.
inline QByteArray Record(int length, const QList<QPair<int, QByteArray>> &fields, char filler = ' ')
{
    QByteArray record(length, filler);
    for (const auto &f : fields)
        record.replace(f.first, f.second.size(), f.second);
    return record;
}

// Count 290, M1 1, M2 0x7FFFFFFF: 90 degrees to float precision.
inline const QByteArray MeanReport =
    Record(79, {{0, "TMEAN"}, {6, "  64"}, {49, "290"}, {57, "00000001"}, {69, "7FFFFFFF"}});
inline const QByteArray DifferenceReport =
    Record(44, {{0, "TRFDIF"}, {7, "288"}, {14, "00001000"}, {26, "00001000"}, {37, "25.31"}});
