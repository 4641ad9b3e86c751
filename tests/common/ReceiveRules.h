#pragma once
// The receive dispatcher's rules on their own, so that a test can replay the chunks a window
// received and the commands it sent, and say what the window must have made of them: the receive
// state, the line buffer, whether the exchange is over and which reports each chunk completed.

#include "engine/CommandTable.h"
#include "engine/Reports.h"

#include <QByteArray>
#include <QList>
#include <cstdint>

struct TReceiveRules {
    static constexpr int LineBufferLimit = 256;

    uint8_t State = 0; // 0 nothing awaited, 1 a difference report, 2 a waveform block, 3 a mean report
    bool ReplyDone = false;
    QByteArray Buffer;
    float Temperature = 0; // the last difference report's; a mean report carries none
    int Awaited = 0;       // reports asked for that have not come
    int Refused = 0;       // reports taken with a field that could not be read

    // A letter sent on an open line: a command's sets the state it leaves; any other repeats the
    // last letter in the state as it stands. In a report state either one asks for a report.
    void Command(const TCommandEntry *entry)
    {
        if (entry)
            State = entry->StateAfter;
        if (State == 1 || State == 3)
            ++Awaited;
    }

    // A port opened anew: what the last line left of a record, and the replies it was asked for,
    // are not completed by this one (the temperature told stays).
    void NewLine()
    {
        State = 0;
        ReplyDone = true;
        Buffer.clear();
        Awaited = 0;
    }

    // One received chunk: the readable reports it completed, in order.
    QList<Reports::TReportValues> Receive(const QByteArray &chunk)
    {
        Buffer += chunk;
        QList<Reports::TReportValues> taken;
        bool any = false;
        const auto take = [&] {
            Reports::TReport report;
            while (Reports::TakeReport(Buffer, report)) {
                any = true;
                Awaited = qMax(0, Awaited - 1);
                if (!report.Values.Readable) {
                    ++Refused;
                    continue;
                }
                if (report.Kind == Reports::TReportKind::Difference)
                    Temperature = report.Values.Temperature;
                report.Values.Temperature = Temperature;
                taken << report.Values;
            }
        };
        if (State == 1 || State == 3) {
            take();
            const int limit = State == 3 ? Reports::MeanCheckLimit : Reports::DifferenceCheckLimit;
            ReplyDone = any || (Buffer.size() > limit && !Reports::ReportPending(Buffer));
        } else if (State == 0) {
            if (Awaited > 0)
                take();
            if (Awaited == 0 || !Reports::ReportPending(Buffer))
                Buffer.clear();
        } else {
            Buffer.clear(); // gone to the waveform text
        }
        if (ReplyDone)
            State = 0;
        if (Buffer.size() > LineBufferLimit)
            Buffer.clear();
        return taken;
    }
};
