#include "update/Updater.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "game/Game.h"
#include "net/DownloadFile.h"
#include "net/HTTPRequest.h"
#include "net/Scheduler.h"
#include "platform/FileUtils.h"
#include "report/Report.h"
#include "update/Install.h"
#include "update/Manifest.h"
#include "update/Unzip.h"
#include "util/Encoding.h"

namespace veltrano {

namespace {

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::mutex& starterPauseMutex() {
    static std::mutex m;
    return m;
}
std::function<void()>& starterPauseSlot() {
    static std::function<void()> pause;
    return pause;
}
std::function<void()> starterPause() {
    std::lock_guard<std::mutex> lock(starterPauseMutex());
    return starterPauseSlot();
}

// Archive names this launcher downloaded into its download folder, one a line.
constexpr const char* kDownloadsRecord = "downloads.txt";

// The pieces and leftovers of one archive's download: its name followed by ".".
bool isPieceOf(const std::string& file, const std::string& archive) {
    return file.size() > archive.size() + 1 && file.compare(0, archive.size(), archive) == 0 &&
           file[archive.size()] == '.';
}

}  // namespace

// ---- extraction while the archive arrives ----
//
// The archive's end (its directory) is fetched on its own as the download starts, and entries are
// extracted into the staging folder as soon as their bytes are in the file. That work counts only
// when the finished archive matches its digest, no byte of it was written twice meanwhile, and its
// directory is the one fetched; otherwise the extraction starts over from the finished file as if
// nothing had begun. Nothing is reported for it before the decompression begins.

namespace {
// Holds the directory of some ten thousand entries.
constexpr uint64_t kEarlyTailBytes = 1 << 20;
}  // namespace

struct Updater::Early {
    // Made on the UI thread, once.
    enum Decision { Pending, Continue, StartOver, Abandon };
    std::shared_ptr<const DownloadFile::Arrived> bytes;
    uint64_t rewritesAtStart = 0;
    uint64_t archiveSize = 0;
    std::string name;
    std::string tail;  // written by the tail request's worker, read after its final callback
    Archive archive;   // read by others only once opened is set
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    Decision decision = Pending;
    std::string zip;        // the finished archive, set with the decision
    bool opened = false;    // the extraction runs
    uint32_t finished = 0;  // entries extracted
    uint32_t reported = 0;  // of those, reported (by the extraction's threads only)

    void abandon() {
        stop.store(true);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (decision == Pending) decision = Abandon;
        }
        changed.notify_all();
    }
};

Updater* Updater::instance() {
    static Updater* updater = new Updater();
    return updater;
}

Updater::Updater() : m_life(std::make_shared<Life>()) {
    m_life->self = this;
    m_downloadStartTime.store(static_cast<int64_t>(nowSeconds()));
    // Before the version is read: an interrupted update may have left the game folder missing.
    // The leftovers themselves are removed by start(), off the UI thread.
    if (isDedicatedGameDir(LauncherConfig::instance()->game_dir(), nullptr))
        restoreInterruptedGame(installPaths(gameDirectory()));
    m_noLocalVersion = !readLocalVersion();
    m_verUrl = LauncherConfig::instance()->ver_url();
    m_gameUrl = LauncherConfig::instance()->game_url();
}

Updater::~Updater() {
    if (m_starter.joinable()) m_starter.join();
    {
        std::lock_guard<std::recursive_mutex> lock(m_life->mutex);
        m_life->self = nullptr;
        if (m_verRequest) m_verRequest->cancel();
        if (m_task) m_task->cancel();
        if (m_tailRequest) m_tailRequest->cancel();
        if (m_early) m_early->abandon();
    }
    // Outside the lock: the extraction thread takes it to deliver, and finds nobody.
    m_stopExtraction.store(true);
    if (m_extractor.joinable()) m_extractor.join();
}

std::string Updater::gameDirectory() const {
    FileUtils* fu = FileUtils::instance();
    std::string base = fu != nullptr ? fu->launcherDirectory() : std::string();
    return base + "/" + LauncherConfig::instance()->game_dir() + "/";
}

bool Updater::readLocalVersion() {
    FileUtils* fu = FileUtils::instance();
    const std::string path = gameDirectory() + "version";
    if (fu != nullptr && fu->fileExists(path)) {
        m_curVer = fu->readText(path);
        return true;
    }
    m_curVer = "1.0.0";
    return false;
}

void Updater::notify(UpdaterState state, UpdaterCode code, double a, double b) {
    if (m_callback) m_callback(state, code, a, b);
}

void Updater::fail(UpdaterState state, UpdaterCode code) {
    if (m_ended.exchange(true, std::memory_order_acq_rel)) return;
    notify(state, code, 0, 0);
}

void Updater::start() {
    writeLog("Updater::start");
    sendReport(1003);
    std::string why;
    const std::string& gameDir = LauncherConfig::instance()->game_dir();
    if (!isDedicatedGameDir(gameDir, &why)) {
        // The game directory is emptied before extraction; anything but a sub-directory of its own
        // would take the launcher's files (or worse) with it.
        writeLog("game_dir \"%s\" refused: %s; nothing is downloaded or removed", gameDir.c_str(),
                 why.c_str());
        fail(CheckVersion, GameDirInvalid);
        return;
    }
    // Ending stale game processes includes a 200 ms wait: done off the UI thread, which keeps
    // painting; the version request then starts from the UI thread's next tick.
    auto ready = std::make_shared<std::atomic<bool>>(false);
    auto id = std::make_shared<int>(-1);
    *id = Scheduler::instance()->schedule([life = m_life, ready, id](float) {
        if (!ready->load(std::memory_order_acquire)) return;
        Scheduler::instance()->unschedule(*id);
        std::lock_guard<std::recursive_mutex> lock(life->mutex);
        Updater* self = life->self;
        if (self == nullptr) return;
        self->m_starter.join();  // it has done its work; this waits only for the thread to end
        self->downloadVerFile();
    });
    if (m_starter.joinable()) m_starter.join();
    m_starter = std::thread([ready, paths = installPaths(gameDirectory())] {
        recoverInterruptedInstall(paths);
        terminateProcessesByName(LauncherConfig::instance()->game_exe_name());
        sleepMs(200);
        killGameProcess();
        if (std::function<void()> pause = starterPause()) pause();
        ready->store(true, std::memory_order_release);
    });
    // The manifest travels meanwhile; its answer waits for the version check proper.
    m_holdVerAnswer = true;
    sendVerRequest();
}

void Updater::setStarterPauseForTesting(std::function<void()> pause) {
    std::lock_guard<std::mutex> lock(starterPauseMutex());
    starterPauseSlot() = std::move(pause);
}

void Updater::downloadVerFile() {
    writeLog("Updater::downloadVerFile");
    sendReport(1007);
    ++m_verTryCount;
    if (m_holdVerAnswer) {
        // The first request went out while stale game processes were being ended.
        m_holdVerAnswer = false;
        if (m_heldVerAnswer) {
            VerAnswer answer = std::move(*m_heldVerAnswer);
            m_heldVerAnswer.reset();
            onVerFileAnswer(answer);
        }
        return;
    }
    sendVerRequest();
}

void Updater::sendVerRequest() {
    HTTPRequest* request = HTTPRequest::create(
        [life = m_life](int state, HTTPRequest* r) {
            if (state == kCCHTTPRequestStateRunning) return;
            std::lock_guard<std::recursive_mutex> lock(life->mutex);
            Updater* self = life->self;
            if (self == nullptr) return;
            if (r == self->m_verRequest) self->m_verRequest = nullptr;
            VerAnswer answer{state, r->getResponseCode(),
                             state == kCCHTTPRequestStateCompleted ? r->getResponseData() : std::string(),
                             r->getErrorCode(), r->getErrorMessage()};
            if (self->m_holdVerAnswer) {
                self->m_heldVerAnswer = std::move(answer);
                return;
            }
            self->onVerFileAnswer(answer);
        },
        m_verUrl, kCCHTTPRequestMethodGet);
    request->setConnectTimeout(3);
    request->setTimeout(5);
    request->setMaxBodySize(kMaxManifestBytes);
    m_verRequest = request;
    request->start();
}

void Updater::onVerFileAnswer(const VerAnswer& answer) {
    if (answer.state == kCCHTTPRequestStateCompleted) {
        if (answer.code != 200) {
            // An error page is no manifest; waiting for nothing would stall the run.
            writeLog("downloadVerFile status:%ld", answer.code);
            retryVerFile();
            return;
        }
        handleManifest(answer.body);
    } else if (answer.state == kCCHTTPRequestStateFailed) {
        writeLog("downloadVerFile errcode:%d %s %d", static_cast<int>(answer.code),
                 answer.errorMessage.c_str(), answer.errorCode);
        retryVerFile();
    }
}

void Updater::handleManifest(const std::string& body) {
    ManifestDecision d = judgeManifest(body, m_curVer, m_noLocalVersion);
    if (d.action == ManifestAction::Retry) {
        writeLog("downloadVerFile data:%s", body.c_str());
        writeLog("downloadVerFile json err");
        retryVerFile();
        return;
    }
    if (d.hasDownloadThread) m_downloadThread = d.downloadThread;
    if (d.hasSvrVer) {
        m_svrVer = d.svrVer;
        writeLog("m_svrVer:%s m_curVer:%s", m_svrVer.c_str(), m_curVer.c_str());
    }
    switch (d.action) {
        case ManifestAction::Fail:
            writeLog("downloadVerFile manifest unusable: %s", d.problem.c_str());
            fail(CheckVersion, VerFileFailed);
            return;
        case ManifestAction::Finish:
            if (!d.problem.empty()) writeLog("downloadVerFile manifest: %s", d.problem.c_str());
            finish();
            return;
        case ManifestAction::Download:
            if (!d.problem.empty()) writeLog("downloadVerFile manifest: %s", d.problem.c_str());
            downloadGame(d.name, d.size, d.md5);
            return;
        case ManifestAction::Retry:
            return;
    }
}

void Updater::retryVerFile() {
    if (m_useVerSrcUrl) {
        if (m_verTryCount >= 2) {
            fail(CheckVersion, VerFileFailed);
            return;
        }
    } else if (m_verTryCount > 2) {
        m_useVerSrcUrl = true;
        m_verTryCount = 0;
        m_verUrl = LauncherConfig::instance()->ver_src_url();
    }
    downloadVerFile();
}

void Updater::downloadGame(const std::string& name, int64_t size, const std::string& md5) {
    writeLog("Updater::downloadGame");
    sendReport(1008);
    ++m_gameTryCount;
    const std::string url = m_gameUrl + name;
    FileUtils* fu = FileUtils::instance();
    m_gameZipPath = (fu != nullptr ? fu->writableDirectory() : std::string()) + name;
    m_gameMd5 = md5;
    m_gameName = name;
    m_gameSize = size;
    if (fu != nullptr) {
        const std::string record = fu->writableDirectory() + kDownloadsRecord;
        std::string listed = fu->fileExists(record) ? fu->readText(record) : std::string();
        if (("\n" + listed).find("\n" + name + "\n") == std::string::npos)
            fu->writeText(listed + name + "\n", record);
    }
    const uint64_t onDisk = downloadedBytesOnDisk();
    const uint64_t needed = static_cast<uint64_t>(size) > onDisk ? static_cast<uint64_t>(size) - onDisk : 0;
    if (fu != nullptr && !enoughSpace(Download, fu->writableDirectory(), needed)) return;
    DownloadFile* task = DownloadFile::create(
        [life = m_life](unsigned event, DownloadFile* t) {
            std::lock_guard<std::recursive_mutex> lock(life->mutex);
            if (life->self) life->self->onGameDownloadEvent(event, t);
        },
        url, m_gameZipPath, static_cast<uint64_t>(size), static_cast<unsigned>(m_downloadThread), md5);
    m_baseBytes.store(0);
    m_downloadStartTime.store(static_cast<int64_t>(nowSeconds()));
    m_task = task;
    // Only a first attempt from nothing: a retry is rare, and its extraction simply follows the download,
    // and a resumed one has most of its bytes already.
    if (m_gameTryCount == 1 && !m_useGameSrcUrl && onDisk == 0) beginEarlyExtraction(url, task);
    task->start();
}

void Updater::onGameDownloadEvent(unsigned event, DownloadFile* task) {
    if (event != kDownloadFileProgress && task == m_task) m_task = nullptr;
    switch (event) {
        case kDownloadFileProgress: {
            const uint64_t done = task->getDownloadedTotal();
            if (m_baseBytes.load() == 0) m_baseBytes.store(done);
            notify(Download, Progress, static_cast<double>(m_gameSize), static_cast<double>(done));
            break;
        }
        case kDownloadFileCompleted: {
            // Computed while the bytes arrived.
            const std::string& digest = task->getDigest();
            if (sameDigest(digest, m_gameMd5)) {
                decompressGame();
                return;
            }
            writeLog("downloadGame md5 mismatch: file %s has \"%s\", manifest says \"%s\"",
                     m_gameZipPath.c_str(), digest.c_str(), m_gameMd5.c_str());
            FileUtils* fu = FileUtils::instance();
            if (fu != nullptr && fu->fileExists(m_gameZipPath)) fu->removeFile(m_gameZipPath);
            abandonEarlyExtraction();
            retryGame();
            break;
        }
        case kDownloadFileFailed:
            writeLog("downloadGame failed: %s%s", m_gameUrl.c_str(), m_gameName.c_str());
            abandonEarlyExtraction();
            retryGame();
            break;
        default:
            break;
    }
}

void Updater::retryGame() {
    if (m_useGameSrcUrl) {
        if (m_gameTryCount > 2) {
            fail(Download, DownloadFailed);
            return;
        }
    } else if (m_gameTryCount > 2) {
        m_useGameSrcUrl = true;
        m_gameTryCount = 0;
        m_gameUrl = LauncherConfig::instance()->game_src_url();
    }
    downloadGame(m_gameName, m_gameSize, m_gameMd5);
}

void Updater::decompressGame() {
    writeLog("Updater::decompressGame");
    sendReport(1010);
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr) {
        fail(Decompress, DecompressFailed);
        return;
    }
    const std::string zip = fu->fullPath(m_gameZipPath);
    if (continueEarlyExtraction(zip)) return;
    // Everything that touches many files runs here, off the UI thread: the leftover staging
    // folder's removal, the extraction, and (through UnzipDone) the flush and the exchange.
    if (m_extractor.joinable()) m_extractor.join();
    try {
        m_extractor =
            std::thread([this, zip, paths = installPaths(gameDirectory())] { extractStaged(zip, paths); });
    } catch (const std::system_error& e) {
        writeLog("can not start the extraction thread: %s", e.what());
        onDecompressEvent(UnzipFailed, 0, 0);
    }
}

void Updater::deliverDecompress(uint32_t kind, uint32_t a, uint32_t b) {
    std::lock_guard<std::recursive_mutex> lock(m_life->mutex);
    if (m_life->self) onDecompressEvent(kind, a, b);
}

void Updater::extractStaged(const std::string& zip, const InstallPaths& paths) {
    {
        Archive archive;
        std::string problem;
        if (!archive.open(zip, &problem)) {
            writeLog("decompressGame: %s: %s", zip.c_str(), problem.c_str());
            deliverDecompress(UnzipFailed, 0, 0);
            return;
        }
        // The new tree is staged beside the installed one, which stays until the exchange.
        FileUtils* files = FileUtils::instance();
        std::string parent = paths.game.substr(0, paths.game.find_last_of('/') + 1);
        if (!files->directoryExists(parent)) files->createDirectory(parent);
        std::lock_guard<std::recursive_mutex> lock(m_life->mutex);
        if (m_life->self == nullptr || !enoughSpace(Decompress, parent, archive.uncompressedTotal())) return;
    }
    if (!prepareStaging(paths)) {
        deliverDecompress(UnzipFailed, 0, 0);
        return;
    }
    const bool ok = uncompressDir(
        zip.c_str(), (paths.staging + "/").c_str(),
        [this](uint32_t index, uint32_t total) { deliverDecompress(UnzipProgress, index, total); },
        &m_stopExtraction);
    if (!ok && m_stopExtraction.load()) {
        // Nobody listens any more; the next start would remove this too.
        discardStaging(paths);
        return;
    }
    deliverDecompress(ok ? UnzipDone : UnzipFailed, 0, 0);
}

void Updater::beginEarlyExtraction(const std::string& url, DownloadFile* task) {
    const uint64_t size = static_cast<uint64_t>(m_gameSize);
    if (size < 22 || m_extractor.joinable()) return;
    auto early = std::make_shared<Early>();
    early->bytes = task->arrived();
    early->rewritesAtStart = early->bytes->rewrites();
    early->archiveSize = size;
    early->name = m_gameName;
    const uint64_t length = std::min(size, kEarlyTailBytes);
    const uint64_t from = size - length;
    HTTPRequest* request = HTTPRequest::create(
        [life = m_life, early, length](int state, HTTPRequest* r) {
            if (state == kCCHTTPRequestStateRunning) return;
            std::lock_guard<std::recursive_mutex> lock(life->mutex);
            if (life->self == nullptr) return;
            if (life->self->m_tailRequest == r) life->self->m_tailRequest = nullptr;
            life->self->onEarlyTail(early, state == kCCHTTPRequestStateCompleted &&
                                               r->getResponseCode() == 206 && early->tail.size() == length);
        },
        url, kCCHTTPRequestMethodGet);
    const std::string range = "RANGE:bytes=" + std::to_string(from) + "-" + std::to_string(size - 1);
    request->addHeader(range.c_str());
    request->setConnectTimeout(3);
    request->setTimeout(30);
    request->setResponseCheck([from](long code, const std::string& contentRange) {
        if (code >= 300 && code < 400) return true;
        unsigned long long first = 0;
        return code == 206 && std::sscanf(contentRange.c_str(), "bytes %llu-", &first) == 1 && first == from;
    });
    request->setBodySink([early, length](const char* data, size_t n) -> size_t {
        if (early->tail.size() + n > length) return 0;
        early->tail.append(data, n);
        return n;
    });
    m_early = early;
    m_tailRequest = request;
    request->start();
}

void Updater::onEarlyTail(const std::shared_ptr<Early>& early, bool fetched) {
    if (early != m_early || m_extractor.joinable()) return;
    if (!fetched) {
        writeLog("the end of %s could not be fetched first; extraction waits for the download",
                 m_gameName.c_str());
        m_early = nullptr;
        return;
    }
    try {
        m_extractor = std::thread(
            [this, early, paths = installPaths(gameDirectory())] { runEarlyExtraction(early, paths); });
    } catch (const std::system_error& e) {
        writeLog("extraction waits for the download: %s", e.what());
        m_early = nullptr;
    }
}

void Updater::runEarlyExtraction(const std::shared_ptr<Early>& early, const InstallPaths& paths) {
    auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); };
    while (early->bytes->prepared() == 0 && !early->stop.load()) pause();
    std::string why;
    if (early->stop.load() || early->bytes->prepared() < 0) why = "the download ended first";
    if (why.empty())
        early->archive.openArriving(early->bytes->partPath(), early->archiveSize, early->tail, &why);
    // A refused name is left to the extraction after the download, which says why.
    if (why.empty() && !acceptableNames(early->archive, false)) why = "an entry name is refused";
    if (why.empty()) {
        FileUtils* files = FileUtils::instance();
        std::string parent = paths.game.substr(0, paths.game.find_last_of('/') + 1);
        if (!files->directoryExists(parent)) files->createDirectory(parent);
        uint64_t free = 0;
        // Room for the whole archive beside the tree: the download may share the file system.
        const uint64_t needed = early->archive.uncompressedTotal() + early->archiveSize;
        if (files->freeSpace(parent, &free) && free < needed) why = "too little room to do both at once";
    }
    if (why.empty() && !prepareStaging(paths)) why = "no staging folder";
    bool extracting = false;
    if (why.empty()) {
        std::lock_guard<std::mutex> lock(early->mutex);
        extracting = early->opened = early->decision == Early::Pending;
    } else {
        writeLog("extraction waits for the download: %s", why.c_str());
    }
    bool ok = false;
    if (extracting) {
        writeLog("extracting %s while it downloads", early->name.c_str());
        ArrivingBytes arriving;
        arriving.ready = [early](uint64_t from, uint64_t to) {
            // Bytes written twice may differ from what was read: the work counts for nothing then.
            return early->bytes->rewrites() == early->rewritesAtStart && early->bytes->has(from, to);
        };
        arriving.wait = pause;
        ok = extractArchive(
            early->archive, paths.staging + "/",
            [this, &early](uint32_t index, uint32_t total) {
                // Calls come one at a time. Until the decompression begins they are only counted;
                // then the counted ones are reported first, in order, from this thread.
                {
                    std::lock_guard<std::mutex> lock(early->mutex);
                    early->finished = index + 1;
                    if (early->decision != Early::Continue) return;
                }
                for (; early->reported <= index; ++early->reported)
                    deliverDecompress(UnzipProgress, early->reported, total);
            },
            &early->stop, &arriving);
    }
    std::unique_lock<std::mutex> lock(early->mutex);
    early->changed.wait(lock, [&] { return early->decision != Early::Pending; });
    const Early::Decision decision = early->decision;
    const std::string zip = early->zip;
    lock.unlock();
    if (decision == Early::StartOver) {
        if (extracting) writeLog("extraction starts over from the finished archive");
        extractStaged(zip, paths);  // makes the staging folder afresh
    } else if (decision == Early::Continue && !early->stop.load()) {
        // Entries that all finished before the decompression began are reported here.
        const uint32_t total = static_cast<uint32_t>(early->archive.entries().size());
        for (; early->reported < early->finished; ++early->reported)
            deliverDecompress(UnzipProgress, early->reported, total);
        deliverDecompress(ok ? UnzipDone : UnzipFailed, 0, 0);
    } else if (extracting) {
        discardStaging(paths);  // abandoned, or the Updater is going away
    }
}

bool Updater::continueEarlyExtraction(const std::string& zip) {
    if (m_tailRequest) m_tailRequest->cancel();
    m_tailRequest = nullptr;
    if (!m_early) return false;
    Early& early = *m_early;
    if (!m_extractor.joinable()) {
        abandonEarlyExtraction();  // the end was never fetched: no thread waits
        return false;
    }
    std::lock_guard<std::mutex> lock(early.mutex);
    bool same = false;
    if (early.opened && early.bytes->rewrites() == early.rewritesAtStart) {
        // The fetched directory must be the one of the archive that matched its digest.
        Archive finished;
        std::string problem;
        same = finished.open(zip, &problem) && finished.entries() == early.archive.entries();
    }
    early.zip = zip;
    early.decision = same ? Early::Continue : Early::StartOver;
    if (!same) early.stop.store(true);
    early.changed.notify_all();
    if (same) writeLog("uncompressDir unzOpen 1");
    return true;
}

void Updater::abandonEarlyExtraction() {
    if (m_tailRequest) m_tailRequest->cancel();
    m_tailRequest = nullptr;
    if (m_early) m_early->abandon();
    m_early = nullptr;
}

bool Updater::enoughSpace(UpdaterState state, const std::string& path, uint64_t needed) {
    FileUtils* fu = FileUtils::instance();
    uint64_t free = 0;
    if (fu == nullptr || !fu->freeSpace(path, &free) || free >= needed) return true;
    writeLog("not enough disk space in %s: %llu bytes needed, %llu free", path.c_str(),
             static_cast<unsigned long long>(needed), static_cast<unsigned long long>(free));
    fail(state, NoDiskSpace);
    return false;
}

uint64_t Updater::downloadedBytesOnDisk() const {
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr) return 0;
    uint64_t total = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(fu->writableDirectory(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (isPieceOf(it->path().filename().string(), m_gameName) && it->is_regular_file(ec))
            total += it->file_size(ec);
    }
    return total;
}

void Updater::removeEarlierArchives() {
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr) return;
    const std::string dir = fu->writableDirectory();
    const std::string record = dir + kDownloadsRecord;
    if (!fu->fileExists(record)) return;
    std::istringstream listed(fu->readText(record));
    std::set<std::string> earlier;
    for (std::string name; std::getline(listed, name);) {
        if (name != m_gameName && isPlainFileName(name)) earlier.insert(name);
    }
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        for (const auto& name : earlier) {
            if (file != name && !isPieceOf(file, name)) continue;
            if (fu->removeFile(dir + file)) writeLog("removed the earlier archive %s", file.c_str());
            break;
        }
    }
    fu->writeText(m_gameName + "\n", record);
}

void Updater::onDecompressEvent(uint32_t kind, uint32_t a, uint32_t b) {
    switch (kind) {
        case UnzipDone:
            checkAfterExtraction();
            break;
        case UnzipProgress:
            notify(Decompress, Progress, static_cast<double>(b), static_cast<double>(a));
            break;
        case UnzipFailed: {
            discardStaging(installPaths(gameDirectory()));
            FileUtils* fu = FileUtils::instance();
            if (fu != nullptr && fu->fileExists(m_gameZipPath)) fu->removeFile(m_gameZipPath);
            fail(Decompress, DecompressFailed);
            break;
        }
        default:
            break;
    }
}

void Updater::checkAfterExtraction() {
    const InstallPaths paths = installPaths(gameDirectory());
    FileUtils* fu = FileUtils::instance();
    const std::string versionPath = paths.staging + "/version";
    const std::string staged =
        fu != nullptr && fu->fileExists(versionPath) ? fu->readText(versionPath) : std::string("1.0.0");
    if (staged != m_svrVer) {
        writeLog("version after extraction \"%s\" differs from \"%s\"", staged.c_str(), m_svrVer.c_str());
        discardStaging(paths);
        fail(Decompress, VersionMismatch);
        return;
    }
    if (!putStagingInPlace(paths)) {
        discardStaging(paths);
        fail(Decompress, DecompressFailed);
        return;
    }
    readLocalVersion();
    removeEarlierArchives();
    finish();
}

void Updater::finish() {
    sendReport(1012);
    writeInstallTime();
    sleepMs(500);
    if (m_ended.exchange(true, std::memory_order_acq_rel)) return;
    notify(Finish, Ok, 0, 0);
}

}  // namespace veltrano
