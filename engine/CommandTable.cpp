#include "engine/CommandTable.h"

#include <cstring>

const TCommandEntry CommandTable[12] = {
    {"mmMenu", "(&M) Menu", '?', rsNone, true},
    {"mmAcquire", "(&A) Acquire Data", 'a', rsNone, true},
    {"mmTransmit", "(&C) Transmit Continuous Signal", 'c', rsNone, true},
    {"mmParameters", "(&D) Display Parameters", 'd', rsNone, true},
    {"mmProgram", "(&F) Write Program to Flash", 'f', rsNone, false},
    {"mmKeypad", "(&K) Test Keypad", 'k', rsNone, false},
    {"mmNewPars", "(&P) Enter New Parameters", 'p', rsNone, false},
    {"mmSendData", "(&S) Send Acquired Data to Host", 's', rsWaveform, true},
    {"mmTemperature", "(&T) Display Temperature", 't', rsNone, true},
    {"mmAveragedData", "(&V) Send Averaged Data", 'v', rsNone, true},
    {"mmAnalyzeData", "(&X) Analyze Data", 'x', rsDifference, true},
    {"mmAnalyzeAcquired", "(&Z) Analyze Acquired Data", 'z', rsMean, true},
};

int TCommandEntry::Tag() const
{
    const char *mark = std::strchr(Caption, '&');
    return mark && mark[1] >= 'A' && mark[1] <= 'Z' ? mark[1] - 'A' + 1 : 0;
}

const TCommandEntry *FindCommand(int tag)
{
    for (const TCommandEntry &entry : CommandTable)
        if (entry.Tag() == tag)
            return &entry;
    return nullptr;
}

int CommandTag(char letter)
{
    for (const TCommandEntry &entry : CommandTable)
        if (entry.Letter == letter)
            return entry.Tag();
    return 0;
}
