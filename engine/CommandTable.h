#pragma once
// The instrument's command table, the one source of the Commands menu and of the bytes sent: each
// item's name, caption, byte and how the answer is treated. A menu item's tag is the place in the
// alphabet of the letter its caption marks with "&".

#include <cstddef>
#include <cstdint>

// How received text is treated.
enum TReceiveState : uint8_t {
    rsNone = 0,       // logged and discarded (unless a report is still awaited)
    rsDifference = 1, // a difference report is expected
    rsWaveform = 2,   // waveform block text
    rsMean = 3,       // a mean report is expected
};

struct TCommandEntry {
    const char *Name;    // the menu item's object name
    const char *Caption; // as the Commands menu shows it
    char Letter;         // the byte sent
    TReceiveState StateAfter;
    bool Shown;          // hidden items stay out of the menu
    int Tag() const;
};

// The Commands menu's items, in its order.
extern const TCommandEntry CommandTable[12];
// The entry for a tag, or nullptr when the tag is not a command.
const TCommandEntry *FindCommand(int tag);
// The tag of the item that sends a letter (0 when none does).
int CommandTag(char letter);
