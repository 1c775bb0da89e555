#include "runner/RunProgress.h"

#include <cmath>
#include <cstdio>

#include "update/Updater.h"

namespace veltrano {

int exitStatusForCode(int code) {
    switch (code) {
        case Updater::Ok:
            return kExitOk;
        case Updater::VerFileFailed:
            return kExitVerFileFailed;
        case Updater::DownloadFailed:
            return kExitDownloadFailed;
        case Updater::DecompressFailed:
            return kExitDecompressFailed;
        case Updater::VersionMismatch:
            return kExitVersionMismatch;
        case Updater::GameDirInvalid:
            return kExitGameDirInvalid;
        case Updater::NoDiskSpace:
            return kExitNoDiskSpace;
        default:
            return kExitInternal;
    }
}

const char* describeCode(int code) {
    switch (code) {
        case Updater::Ok:
            return "the game is up to date";
        case Updater::VerFileFailed:
            return "no usable version manifest from the update server";
        case Updater::DownloadFailed:
            return "the game archive could not be downloaded with a matching digest";
        case Updater::DecompressFailed:
            return "the game archive could not be extracted";
        case Updater::VersionMismatch:
            return "the installed game does not carry the offered version";
        case Updater::GameDirInvalid:
            return "\"game_dir\" in launcher.cfg is not a dedicated sub-directory";
        case Updater::NoDiskSpace:
            return "not enough free disk space for the update";
        default:
            return "unknown outcome";
    }
}

const char* phaseName(int state) {
    switch (state) {
        case Updater::CheckVersion:
            return "checking";
        case Updater::Download:
            return "downloading";
        case Updater::Decompress:
            return "installing";
        case Updater::Finish:
            return "finished";
        default:
            return "unknown";
    }
}

std::string formatBytes(double bytes) {
    if (!(bytes >= 0)) bytes = 0;
    char buf[32];
    if (bytes < 1024) {
        std::snprintf(buf, sizeof buf, "%.0f B", bytes);
        return buf;
    }
    static const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    double value = bytes / 1024;
    while (value >= 1024 && unit < 3) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(buf, sizeof buf, "%.1f %s", value, units[unit]);
    return buf;
}

std::string formatDuration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 359999999) return "--:--";
    long long s = std::llround(seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
    return buf;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

double progressPercent(const ProgressView& view) {
    if (view.state == Updater::Finish) return 100;
    if (!(view.total > 0)) return 0;
    double done = view.state == Updater::Decompress ? view.done + 1 : view.done;
    double p = 100.0 * done / view.total;
    return p < 0 ? 0 : p > 100 ? 100 : p;
}

double secondsLeft(const ProgressView& view) {
    if (view.state != Updater::Download || !(view.bytesPerSecond > 0) || !(view.total > 0)) return -1;
    double left = view.total - view.done;
    return left <= 0 ? 0 : left / view.bytesPerSecond;
}

std::string progressText(const ProgressView& view) {
    char buf[256];
    const char* phase = phaseName(view.state);
    if (view.state == Updater::Download) {
        std::string speed = view.bytesPerSecond >= 0 ? formatBytes(view.bytesPerSecond) + "/s" : "--";
        std::snprintf(buf, sizeof buf, "%-11s %5.1f%%  %s / %s  %s  %s left", phase, progressPercent(view),
                      formatBytes(view.done).c_str(), formatBytes(view.total).c_str(), speed.c_str(),
                      formatDuration(secondsLeft(view)).c_str());
    } else if (view.state == Updater::Decompress) {
        std::snprintf(buf, sizeof buf, "%-11s %5.1f%%  %.0f / %.0f files", phase, progressPercent(view),
                      view.total > 0 ? view.done + 1 : 0.0, view.total);
    } else {
        std::snprintf(buf, sizeof buf, "%s", phase);
    }
    return buf;
}

std::string progressJson(const ProgressView& view) {
    char buf[320];
    std::snprintf(buf, sizeof buf,
                  "{\"event\":\"progress\",\"phase\":\"%s\",\"total\":%.0f,\"done\":%.0f,\"percent\":%.1f",
                  phaseName(view.state), view.total, view.done, progressPercent(view));
    std::string out = buf;
    if (view.state == Updater::Download) {
        std::snprintf(buf, sizeof buf, ",\"bytesPerSecond\":%.0f,\"secondsLeft\":%.0f",
                      view.bytesPerSecond >= 0 ? view.bytesPerSecond : -1.0, secondsLeft(view));
        out += buf;
    }
    return out + "}";
}

}  // namespace veltrano
