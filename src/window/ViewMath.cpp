#include "window/ViewMath.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "platform/FileUtils.h"

namespace veltrano {

namespace {
constexpr double kPhaseShare = 33.333;
}

std::string skinImagePath(const char* literal) {
    FileUtils* files = FileUtils::instance();
    return (files ? files->launcherDirectory() : std::string()) + literal;
}

float overallPercent(unsigned state, double total, double done) {
    if (total == 0) total = 1;
    double stepShare = done / total * kPhaseShare;
    float overall = static_cast<float>(state * kPhaseShare + stepShare);
    if (overall > 100) overall = 100;
    return overall;
}

unsigned fillWidth(int processWidth, float overall) {
    float width = static_cast<float>(processWidth) * (overall / 100);
    // A negative share (a progress report below the phase start) would wrap when converted.
    if (!(width > 0)) return 0;
    return static_cast<unsigned>(width);
}

SkinLayout skinLayoutFrom(const LauncherConfig& cfg) {
    SkinLayout l;
    l.processX = cfg.process_x();
    l.processY = cfg.process_y();
    l.processBgWidth = cfg.process_bg_width();
    l.processBgHeight = cfg.process_bg_height();
    l.processWidth = cfg.process_width();
    l.processHeight = cfg.process_height();
    l.closeX = cfg.close_btn_x();
    l.closeY = cfg.close_btn_y();
    l.closeWidth = cfg.close_btn_width();
    l.closeHeight = cfg.close_btn_height();
    return l;
}

FillRect progressFill(const SkinLayout& layout, unsigned state, double total, double done) {
    FillRect r;
    r.x = layout.processX + (layout.processBgWidth - layout.processWidth) / 2;
    r.y = layout.processY + (layout.processBgHeight - layout.processHeight) / 2;
    r.width = fillWidth(layout.processWidth, overallPercent(state, total, done));
    r.height = layout.processHeight > 0 ? static_cast<unsigned>(layout.processHeight) : 0;
    return r;
}

float downloadSpeed(double done, uint64_t baseBytes, int64_t startTime, int64_t now) {
    int64_t elapsed = now > startTime ? now - startTime : 1;
    return static_cast<float>((done - static_cast<double>(baseBytes)) / static_cast<double>(elapsed));
}

std::string speedText(float bytesPerSecond) {
    char buf[64];
    if (bytesPerSecond > 1048576)
        snprintf(buf, sizeof buf, "%0.1f Mb/S", bytesPerSecond / 1024 / 1024);
    else
        snprintf(buf, sizeof buf, "%0.1f Kb/S", bytesPerSecond / 1024);
    return buf;
}

const std::string* progressFormat(const std::vector<std::string>& texts, unsigned state) {
    if (texts.size() < 4 || state >= texts.size()) return nullptr;
    return &texts[state];
}

std::string formatProgressText(const std::string& format, double percent, const std::string& speed) {
    FormatArg p{FormatArg::Double};
    p.d = percent;
    FormatArg s{FormatArg::Text};
    s.s = speed.c_str();
    return checkedFormat(format, {p, s}, 99);
}

bool closeButtonHit(const SkinLayout& layout, int x, int y) {
    // Unsigned as the configuration values are; a point left of or above the window never hits.
    if (x < 0 || y < 0) return false;
    auto u = [](int v) { return static_cast<unsigned long long>(static_cast<unsigned>(v)); };
    unsigned long long left = u(layout.closeX), top = u(layout.closeY);
    return left <= u(x) && u(x) <= left + u(layout.closeWidth) && top <= u(y) &&
           u(y) <= top + u(layout.closeHeight);
}

std::string chooseFont(const std::vector<std::string>& installedFamilies, const std::string& preferred) {
    static const char* const kCandidates[] = {"微软雅黑", "宋体", "黑体", "楷体"};
    std::string remembered;
    for (const std::string& family : installedFamilies) {
        if (!preferred.empty() && family == preferred) return preferred;
        for (const char* candidate : kCandidates) {
            if (family == candidate) {
                remembered = family;
                break;
            }
        }
    }
    return remembered.empty() ? std::string("Arial") : remembered;
}

long long parseDataType(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        int digit = text[i] - '0';
        if (value > (LLONG_MAX - digit) / 10) return negative ? LLONG_MIN : LLONG_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool isQuitRequest(uint64_t dwData, const std::string& processDataType) {
    return dwData == static_cast<uint64_t>(parseDataType(processDataType));
}

}  // namespace veltrano
