#pragma once
// The arithmetic behind what the launcher window shows, kept free of GTK so it can be checked alone.

#include <cstdint>
#include <string>
#include <vector>

#include "config/TextFormat.h"

namespace veltrano {

class LauncherConfig;

// The configured pixel places of the window's parts.
struct SkinLayout {
    int processX = 0, processY = 0, processBgWidth = 0, processBgHeight = 0;
    int processWidth = 0, processHeight = 0;
    int closeX = 0, closeY = 0, closeWidth = 0, closeHeight = 0;
};
SkinLayout skinLayoutFrom(const LauncherConfig& cfg);

// A skin image: the launcher directory followed by the literal ("/res/bg.png"), "//" included.
std::string skinImagePath(const char* literal);

// Share of the whole run, a third per phase, as the window's 32-bit float; at most 100.
// A total of 0 counts as 1.
float overallPercent(unsigned state, double total, double done);

// Width of the visible part of the fill: the fill is cropped, never stretched.
unsigned fillWidth(int processWidth, float overall);

struct FillRect {
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
};
// The fill is centred in the track; halves drop their remainder.
FillRect progressFill(const SkinLayout& layout, unsigned state, double total, double done);

// Bytes per second since the download began; the elapsed time is at least one second.
float downloadSpeed(double done, uint64_t baseBytes, int64_t startTime, int64_t now);
// Exactly 1048576 bytes per second still reads in Kb/S.
std::string speedText(float bytesPerSecond);

// The format for a window state, or null when no text is to be drawn: the list needs at least
// four entries and one for the state.
const std::string* progressFormat(const std::vector<std::string>& texts, unsigned state);

// The status line: percent and speed text through the checked format, at most 99 bytes.
std::string formatProgressText(const std::string& format, double percent, const std::string& speed);

// Whether a click at client point (x, y) hits the close button; every edge counts.
bool closeButtonHit(const SkinLayout& layout, int x, int y);

// The configured family when installed; else the last installed family that is one of the
// candidates; else "Arial".
std::string chooseFont(const std::vector<std::string>& installedFamilies, const std::string& preferred);

// Decimal reading of process_data_type: leading digits only, text without digits reads 0.
long long parseDataType(const std::string& text);
bool isQuitRequest(uint64_t dwData, const std::string& processDataType);

}  // namespace veltrano
