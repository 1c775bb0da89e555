#include "runner/RunProgress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "update/Updater.h"

using namespace veltrano;

TEST(RunProgress, EveryOutcomeHasItsOwnExitStatus) {
    std::set<int> statuses;
    for (int code : {Updater::Ok, Updater::VerFileFailed, Updater::DownloadFailed, Updater::DecompressFailed,
                     Updater::VersionMismatch, Updater::GameDirInvalid}) {
        statuses.insert(exitStatusForCode(code));
        EXPECT_STRNE(describeCode(code), "unknown outcome") << code;
    }
    EXPECT_EQ(statuses.size(), 6u);
    EXPECT_EQ(exitStatusForCode(Updater::Ok), 0);
    EXPECT_EQ(exitStatusForCode(1101), kExitVerFileFailed);
    EXPECT_EQ(exitStatusForCode(1113), kExitVersionMismatch);
    EXPECT_EQ(exitStatusForCode(Updater::Progress), kExitInternal);
    EXPECT_EQ(exitStatusForCode(4242), kExitInternal);
}

TEST(RunProgress, BytesAndDurations) {
    EXPECT_EQ(formatBytes(0), "0 B");
    EXPECT_EQ(formatBytes(1023), "1023 B");
    EXPECT_EQ(formatBytes(1536), "1.5 KiB");
    EXPECT_EQ(formatBytes(5.0 * 1024 * 1024 * 1024), "5.0 GiB");
    EXPECT_EQ(formatBytes(-4), "0 B");
    EXPECT_EQ(formatDuration(0), "0:00");
    EXPECT_EQ(formatDuration(61.4), "1:01");
    EXPECT_EQ(formatDuration(3725), "1:02:05");
    EXPECT_EQ(formatDuration(-1), "--:--");
    EXPECT_EQ(formatDuration(NAN), "--:--");
    EXPECT_EQ(formatDuration(INFINITY), "--:--");
}

TEST(RunProgress, PercentAndTimeLeftPerPhase) {
    ProgressView download{Updater::Download, 1000, 250, 50};
    EXPECT_DOUBLE_EQ(progressPercent(download), 25);
    EXPECT_DOUBLE_EQ(secondsLeft(download), 15);
    download.bytesPerSecond = 0;
    EXPECT_LT(secondsLeft(download), 0);
    // The index of the entry just extracted: the last of 250 is 249, which is all of them.
    EXPECT_DOUBLE_EQ(progressPercent(ProgressView{Updater::Decompress, 250, 249, -1}), 100);
    EXPECT_DOUBLE_EQ(progressPercent(ProgressView{Updater::Decompress, 4, 0, -1}), 25);
    EXPECT_LT(secondsLeft(ProgressView{Updater::Decompress, 4, 0, 100}), 0);
    EXPECT_DOUBLE_EQ(progressPercent(ProgressView{Updater::Download, 0, 10, -1}), 0);
    EXPECT_DOUBLE_EQ(progressPercent(ProgressView{Updater::Download, 10, 20, -1}), 100);
    EXPECT_DOUBLE_EQ(progressPercent(ProgressView{Updater::Finish, 0, 0, -1}), 100);
}

TEST(RunProgress, TextAndJsonLines) {
    ProgressView v{Updater::Download, 100.0 * 1024 * 1024, 25.0 * 1024 * 1024, 5.0 * 1024 * 1024};
    EXPECT_EQ(progressText(v), "downloading  25.0%  25.0 MiB / 100.0 MiB  5.0 MiB/s  0:15 left");
    EXPECT_EQ(progressJson(v),
              "{\"event\":\"progress\",\"phase\":\"downloading\",\"total\":104857600,\"done\":26214400,"
              "\"percent\":25.0,\"bytesPerSecond\":5242880,\"secondsLeft\":15}");
    EXPECT_EQ(progressText(ProgressView{Updater::Decompress, 8, 1, -1}), "installing   25.0%  2 / 8 files");
    EXPECT_EQ(progressJson(ProgressView{Updater::Decompress, 8, 1, -1}),
              "{\"event\":\"progress\",\"phase\":\"installing\",\"total\":8,\"done\":1,\"percent\":25.0}");
    EXPECT_EQ(progressText(ProgressView{Updater::CheckVersion, 0, 0, -1}), "checking");
}

TEST(RunProgress, JsonStringsEscapeControlsAndQuotes) {
    EXPECT_EQ(jsonString("a\"b\\c\n\t\x01 é"), "\"a\\\"b\\\\c\\n\\t\\u0001 é\"");
    EXPECT_EQ(jsonString(""), "\"\"");
}
