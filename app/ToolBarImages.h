#pragma once
// The tool bar's image list: 32 x 32 images drawn at start, indexed like the buttons use them.

#include <QIcon>
#include <QVector>

namespace ToolBarImage {
constexpr int Exit = 0;
constexpr int TimeOfFlight = 1;
constexpr int Waveform = 2;
constexpr int Communication = 3;
constexpr int Acquire = 4;
constexpr int UsersGuide = 5;
constexpr int Run = 11;  // Run button while idle
constexpr int Stop = 21; // Run button while running
constexpr int Count = 22;
constexpr int Size = 32;
} // namespace ToolBarImage

QVector<QIcon> MakeToolBarImages();
