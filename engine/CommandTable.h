#pragma once
// The instrument's command table: a menu item's tag (the letter's place in the alphabet) gives
// the byte sent and how the answer is treated.

#include <cstdint>

// How received text is treated.
enum TReceiveState : uint8_t {
    rsNone = 0,       // logged and discarded
    rsDifference = 1, // a difference report is expected
    rsWaveform = 2,   // waveform block text
    rsMean = 3,       // a mean report is expected
};

struct TCommandEntry {
    int Tag;
    char Letter;
    uint8_t StateAfter;
};

// The entry for a tag, or nullptr when the tag is not a command.
const TCommandEntry *FindCommand(int tag);
