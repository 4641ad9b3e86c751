#include "engine/CommandTable.h"

namespace {
constexpr TCommandEntry Commands[] = {
    {13, '?', rsNone},       // (M) Menu
    {1, 'a', rsNone},        // (A) Acquire Data
    {3, 'c', rsNone},        // (C) Transmit Continuous Signal
    {4, 'd', rsNone},        // (D) Display Parameters
    {6, 'f', rsNone},        // (F) Write Program to Flash
    {11, 'k', rsNone},       // (K) Test Keypad
    {16, 'p', rsNone},       // (P) Enter New Parameters
    {19, 's', rsWaveform},   // (S) Send Acquired Data to Host
    {20, 't', rsNone},       // (T) Display Temperature
    {22, 'v', rsNone},       // (V) Send Averaged Data
    {24, 'x', rsDifference}, // (X) Analyze Data
    {26, 'z', rsMean},       // (Z) Analyze Acquired Data
};
} // namespace

const TCommandEntry *FindCommand(int tag)
{
    for (const TCommandEntry &entry : Commands)
        if (entry.Tag == tag)
            return &entry;
    return nullptr;
}
