#pragma once
// Brings the installed game up to the version the update server offers: manifest, ranged
// download with digest check, extraction, version re-check. One run per process.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace veltrano {

class HTTPRequest;
class DownloadFile;
struct InstallPaths;

class Updater {
public:
    // First callback argument. Nothing is sent when a phase begins: a receiver that has seen
    // nothing yet is in CheckVersion.
    enum UpdaterState : int { CheckVersion = 0, Download = 1, Decompress = 2, Finish = 3 };

    // Second callback argument. Codes above 1100 end the run and double as report data types.
    enum UpdaterCode : int {
        Ok = 0,
        Progress = 1,  // doubles: (total, done): archive bytes, or entries with the index just done
        VerFileFailed = 1101,
        DownloadFailed = 1102,
        DecompressFailed = 1106,
        VersionMismatch = 1113,
        // "game_dir" is empty, absolute or climbs out of the launcher directory; nothing was
        // downloaded or removed.
        GameDirInvalid = 1120,
        // The download folder or the game folder's file system can not hold what comes next;
        // nothing was removed.
        NoDiskSpace = 1121,
    };

    // Called from the UI thread and, during extraction, from the extraction thread: a receiver
    // must only store the values (or hand them over thread-safely).
    using Callback = std::function<void(UpdaterState, UpdaterCode, double, double)>;

    // The one updater of the process, created on first use on the UI thread; never destroyed.
    static Updater* instance();

    // Tests and tools may run their own updater. Deleting it (on the UI thread) stops its transfers
    // and silences every later callback; an extraction in progress is stopped, its staging folder
    // removed, and its thread joined (an exchange already running is finished first).
    Updater();
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    // Begins the run and returns at once: stale game processes are ended on a worker thread while
    // the version request travels, and its answer is taken at the first Scheduler tick after that
    // (or the run has ended at once on a bad configuration).
    void start();
    void downloadVerFile();
    void downloadGame(const std::string& name, int64_t size, const std::string& md5);
    void decompressGame();

    // Reads the game directory's version file into m_curVer ("1.0.0" when missing); returns
    // whether the file existed.
    bool readLocalVersion();
    // Launcher directory + "/" + game_dir + "/".
    std::string gameDirectory() const;
    // True once the run has produced its one outcome (Finish/Ok or a code above 1100).
    bool ended() const { return m_ended.load(std::memory_order_acquire); }

    // Called on the starting thread once stale game processes are ended, before the version check
    // may begin: lets a test hold a run there. Empty by default.
    static void setStarterPauseForTesting(std::function<void()> pause);

    // Manifest response handling; public so that it can be driven without a server.
    void handleManifest(const std::string& body);

    Callback m_callback;
    uint32_t m_verTryCount = 0;
    uint32_t m_gameTryCount = 0;
    // Read by the window thread for the speed display: bytes/s =
    // (downloaded - m_baseBytes) / max(1, now - m_downloadStartTime).
    std::atomic<int64_t> m_downloadStartTime{0};
    std::atomic<uint64_t> m_baseBytes{0};
    std::string m_curVer;
    std::string m_svrVer;
    std::string m_gameZipPath;
    std::string m_gameMd5;
    std::string m_gameName;
    int64_t m_gameSize = 0;
    int32_t m_downloadThread = 10;
    bool m_noLocalVersion = false;
    bool m_useVerSrcUrl = false;
    std::string m_verUrl;
    bool m_useGameSrcUrl = false;
    std::string m_gameUrl;

private:
    void notify(UpdaterState state, UpdaterCode code, double a, double b);
    // A finished version request, kept apart from the request, which is gone after its callback.
    struct VerAnswer {
        int state = 0;
        long code = 0;
        std::string body;
        int errorCode = 0;
        std::string errorMessage;
    };
    void sendVerRequest();
    void onVerFileAnswer(const VerAnswer& answer);
    void onGameDownloadEvent(unsigned event, DownloadFile* task);
    void onDecompressEvent(uint32_t kind, uint32_t a, uint32_t b);
    void retryVerFile();
    void retryGame();
    void checkAfterExtraction();
    void finish();
    // False (and the run ended with NoDiskSpace) when the file system holding path has less
    // than needed bytes free.
    bool enoughSpace(UpdaterState state, const std::string& path, uint64_t needed);
    // Bytes of this archive's download already on disk (its pieces).
    uint64_t downloadedBytesOnDisk() const;
    // Keeps only the current archive in the download folder.
    void removeEarlierArchives();
    // Ends the run with a code above 1100, at most once.
    void fail(UpdaterState state, UpdaterCode code);
    // Extraction into the staging folder, then (through UnzipDone) the check and the exchange; on
    // the extraction thread.
    void extractStaged(const std::string& zip, const InstallPaths& paths);
    void deliverDecompress(uint32_t kind, uint32_t a, uint32_t b);

    // An extraction that begins while the archive still arrives (see Updater.cpp).
    struct Early;
    void beginEarlyExtraction(const std::string& url, DownloadFile* task);
    void onEarlyTail(const std::shared_ptr<Early>& early, bool fetched);
    void runEarlyExtraction(const std::shared_ptr<Early>& early, const InstallPaths& paths);
    // Hands the decompression to the early extraction's thread; false when there is none.
    bool continueEarlyExtraction(const std::string& zip);
    void abandonEarlyExtraction();

    std::atomic<bool> m_ended{false};
    // Callbacks reach the Updater through this only while it exists; the lock also lets the
    // destructor wait for an extraction callback that is running.
    struct Life {
        std::recursive_mutex mutex;
        Updater* self = nullptr;
    };
    std::shared_ptr<Life> m_life;
    HTTPRequest* m_verRequest = nullptr;  // until its final callback
    // The first version request starts with the run; its answer is held until the check begins.
    bool m_holdVerAnswer = false;
    std::optional<VerAnswer> m_heldVerAnswer;
    HTTPRequest* m_tailRequest = nullptr;  // the archive's end, for the early extraction
    std::shared_ptr<Early> m_early;
    DownloadFile* m_task = nullptr;  // until its final event
    std::thread m_starter;           // ends stale game processes at the start
    std::thread m_extractor;         // extraction, then the exchange
    std::atomic<bool> m_stopExtraction{false};
};

}  // namespace veltrano
