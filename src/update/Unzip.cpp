#include "update/Unzip.h"

#include <unzip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "config/Log.h"
#include "platform/File.h"
#include "platform/FileUtils.h"
#include "util/Encoding.h"

namespace veltrano {

namespace {

// minizip's stdio functions, except that the UTF-8 path is opened through the platform layer.
voidpf ZCALLBACK openArchive(voidpf, const void* filename, int mode) {
    if (filename == nullptr) return nullptr;
    const char* fopenMode = nullptr;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ)
        fopenMode = "rb";
    else if (mode & ZLIB_FILEFUNC_MODE_EXISTING)
        fopenMode = "r+b";
    else if (mode & ZLIB_FILEFUNC_MODE_CREATE)
        fopenMode = "wb";
    if (fopenMode == nullptr) return nullptr;
    return openFile(static_cast<const char*>(filename), fopenMode);
}

unzFile openZip(const char* path) {
    zlib_filefunc64_def functions;
    fill_fopen64_filefunc(&functions);
    functions.zopen64_file = openArchive;
    return unzOpen2_64(path, &functions);
}

int handleNumber(unzFile zip) {
    if (zip == nullptr) return 0;
    int n = static_cast<int>(reinterpret_cast<uintptr_t>(zip) & 0x7fffffff);
    return n == 0 ? 1 : n;
}

bool makeDirectories(const std::string& path) {
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr) return false;
    if (fu->directoryExists(path)) return true;
    return fu->createDirectory(path);
}

// Creates dest + every prefix of name up to each "/" from the left.
void createPrefixes(const std::string& dest, const std::string& name) {
    for (size_t pos = name.find('/'); pos != std::string::npos; pos = name.find('/', pos + 1)) {
        if (pos == 0) continue;
        std::string dir = dest + name.substr(0, pos);
        if (!makeDirectories(dir)) writeLog("can not create directory %s", dir.c_str());
    }
}

// Unix permission bits stored by the archiver, so that the game executable stays executable.
unsigned unixMode(const unz_file_info64& info) {
    if ((info.version >> 8) != 3) return 0;
    unsigned mode = static_cast<unsigned>((info.external_fa >> 16) & 0777);
    return mode == 0 ? 0 : (mode | 0600);
}

// minizip refuses an archive without entries; it is still a valid (empty) archive.
bool isEmptyArchive(const char* path) {
    FILE* f = openFile(path, "rb");
    if (f == nullptr) return false;
    unsigned char record[22];
    size_t n = std::fread(record, 1, sizeof record, f);
    bool atEnd = std::fgetc(f) == EOF;
    std::fclose(f);
    const unsigned char signature[4] = {'P', 'K', 5, 6};
    if (n != sizeof record || std::memcmp(record, signature, 4) != 0) return false;
    unsigned comment = record[20] | (record[21] << 8);
    unsigned entries = record[10] | (record[11] << 8);
    return entries == 0 && (comment == 0 ? atEnd : true);
}

}  // namespace

const char* unsafeEntryNameReason(const std::string& name) {
    if (name.empty()) return "empty name";
    if (name.find('\0') != std::string::npos) return "NUL byte in name";
    if (name.find('\\') != std::string::npos) return "backslash in name";
    if (name[0] == '/') return "absolute name";
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return "drive letter";
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return "\"..\" segment";
        start = end + 1;
    }
    return nullptr;
}

bool uncompressDir(const char* zipPath, const char* destDir, const UnzipProgressFunction& progress) {
    if (zipPath == nullptr || destDir == nullptr) {
        writeLog("source zip is null or dest path is null!");
        return false;
    }
    const std::string dest = destDir;
    unzFile zip = openZip(zipPath);
    writeLog("uncompressDir unzOpen %d", handleNumber(zip));

    unz_global_info64 global;
    if (zip == nullptr && isEmptyArchive(zipPath)) return true;
    if (zip == nullptr || unzGetGlobalInfo64(zip, &global) != UNZ_OK) {
        writeLog("unzGetGlobalInfo not ok");
        if (zip != nullptr) unzClose(zip);
        return false;
    }
    const uint32_t total = static_cast<uint32_t>(global.number_entry);

    std::vector<char> copyBuffer(kUnzipCopyBufferSize);
    char nameBuffer[kUnzipNameBufferSize];
    FILE* out = nullptr;
    bool entryOpen = false;
    auto failWith = [&]() {
        if (entryOpen) unzCloseCurrentFile(zip);
        if (out != nullptr) std::fclose(out);
        unzClose(zip);
        return false;
    };

    for (uint32_t i = 0; i < total; ++i) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(zip, &info, nameBuffer, sizeof nameBuffer, nullptr, 0, nullptr, 0) !=
            UNZ_OK) {
            writeLog("can not read file info");
            return failWith();
        }
        if (info.size_filename >= kUnzipNameBufferSize) {
            nameBuffer[sizeof nameBuffer - 1] = '\0';
            writeLog("refusing entry %s...: name longer than %u bytes", nameBuffer,
                     static_cast<unsigned>(kUnzipNameBufferSize - 1));
            return failWith();
        }
        const std::string name(nameBuffer, info.size_filename);
        if (const char* why = unsafeEntryNameReason(name)) {
            writeLog("refusing entry %s: %s", name.c_str(), why);
            return failWith();
        }
        const std::string finalPath = dest + name;

        if (name.back() == '/') {
            createPrefixes(dest, name);
        } else {
            // Archives without directory entries are common; give every file its parents.
            size_t slash = name.rfind('/');
            if (slash != std::string::npos) createPrefixes(dest, name.substr(0, slash + 1));

            if (unzOpenCurrentFile(zip) != UNZ_OK) {
                writeLog("can not open file %s", name.c_str());
                return failWith();
            }
            entryOpen = true;
            const std::string tmpPath = finalPath + ".tmp";
            out = openFile(tmpPath, "wb");
            if (out == nullptr) {
                writeLog("can not open destination file %s", finalPath.c_str());
                return failWith();
            }
            for (;;) {
                int n = unzReadCurrentFile(zip, copyBuffer.data(), static_cast<unsigned>(copyBuffer.size()));
                if (n < 0) {
                    writeLog("can not read zip file %s, error code is %d", name.c_str(), n);
                    return failWith();
                }
                if (n == 0) break;
                if (std::fwrite(copyBuffer.data(), 1, static_cast<size_t>(n), out) !=
                    static_cast<size_t>(n)) {
                    writeLog("can not write destination file %s, error:%s", tmpPath.c_str(),
                             std::strerror(errno));
                    return failWith();
                }
            }
            // A damaged stored entry reads fine; only its checksum tells.
            entryOpen = false;
            int closed = unzCloseCurrentFile(zip);
            if (closed != UNZ_OK) {
                writeLog("can not read zip file %s, error code is %d", name.c_str(), closed);
                return failWith();
            }
            int flushed = std::fclose(out);
            out = nullptr;
            if (flushed != 0) {
                writeLog("can not write destination file %s, error:%s", tmpPath.c_str(),
                         std::strerror(errno));
                return failWith();
            }
            if (unsigned mode = unixMode(info)) setPermissions(tmpPath, mode);
            FileUtils* fu = FileUtils::instance();
            errno = 0;
            if (fu == nullptr || !fu->renameFile(tmpPath, finalPath)) {
                int err = errno;
                writeLog("Fail to rename file %s to %s !Error code is %d, error:%s", tmpPath.c_str(),
                         finalPath.c_str(), err, std::strerror(err));
                return failWith();
            }
        }

        if (i + 1 < total && unzGoToNextFile(zip) != UNZ_OK) {
            writeLog("can not read next file");
            return failWith();
        }
        if (progress) progress(i, total);
    }
    unzClose(zip);
    return true;
}

void uncompressDirAsync(const std::string& zipPath, const std::string& destDir, UnzipCallback callback,
                        bool wantProgress) {
    std::thread([zipPath, destDir, callback = std::move(callback), wantProgress]() {
        UnzipProgressFunction progress;
        if (wantProgress && callback) {
            progress = [&callback](uint32_t index, uint32_t total) { callback(UnzipProgress, index, total); };
        }
        bool ok = uncompressDir(zipPath.c_str(), destDir.c_str(), progress);
        if (callback) callback(ok ? UnzipDone : UnzipFailed, 0, 0);
    }).detach();
}

}  // namespace veltrano
