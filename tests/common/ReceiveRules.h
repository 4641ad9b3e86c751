#pragma once
// The receive dispatcher's rules on their own, so that a test can replay the chunks a window
// received and the commands it sent, and say what the window must have made of them: the receive
// state, the line buffer, whether the exchange is over and which report each chunk completed.

#include "app/Reports.h"

#include <QByteArray>
#include <cstdint>
#include <optional>

struct TReceiveRules {
    static constexpr int LineBufferLimit = 256;

    uint8_t State = 0; // 0 nothing awaited, 1 a difference report, 2 a waveform block, 3 a mean report
    bool ReplyDone = false;
    QByteArray Buffer;
    float Temperature = 0; // the last difference report's; a mean report carries none

    // One received chunk. Once enough text is there an exchange ends: with the report taken,
    // or without one when no record can still be arriving.
    std::optional<Reports::TReportValues> Receive(const QByteArray &chunk)
    {
        Buffer += chunk;
        std::optional<Reports::TReportValues> taken;
        Reports::TReportValues values;
        if (State == 1 || State == 3) {
            const bool mean = State == 3;
            ReplyDone = Buffer.size() > (mean ? Reports::MeanCheckLimit : Reports::DifferenceCheckLimit);
            if (ReplyDone && (mean ? Reports::TakeMeanReport(Buffer, values)
                                   : Reports::TakeDifferenceReport(Buffer, values))) {
                if (mean)
                    values.Temperature = Temperature;
                Temperature = values.Temperature;
                taken = values;
            } else if (ReplyDone) {
                ReplyDone = !(mean ? Reports::MeanReportPending(Buffer) : Reports::DifferenceReportPending(Buffer));
            }
        } else {
            Buffer.clear(); // logged and dropped, or gone to the waveform text
        }
        if (ReplyDone)
            State = 0;
        if (Buffer.size() > LineBufferLimit)
            Buffer.clear();
        return taken;
    }
};
