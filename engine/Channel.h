#pragma once
// The two waveform channels of the main window: one index per sample point, 12-bit values held as
// signed 16-bit, mid-scale until something fills them.

#include <array>
#include <cstdint>

constexpr int ChannelLength = 1568;
constexpr int16_t ChannelMidScale = 2048;
using TChannel = std::array<int16_t, ChannelLength>;
