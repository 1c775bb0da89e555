#include "pack/Pack.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

#include "config/Json.h"
#include "platform/File.h"
#include "update/Digest.h"
#include "update/Unzip.h"
#include "util/Encoding.h"

namespace veltrano {

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 1 << 16;
constexpr uLong kMadeByUnix = (3u << 8) | 45u;

void dosTime(std::time_t t, zip_fileinfo* info) {
    std::tm tm{};
    localTime(t, &tm);
    if (tm.tm_year < 80) {
        tm = std::tm{};
        tm.tm_mday = 1;
        tm.tm_year = 80;
    }
    info->tmz_date.tm_sec = static_cast<uInt>(tm.tm_sec);
    info->tmz_date.tm_min = static_cast<uInt>(tm.tm_min);
    info->tmz_date.tm_hour = static_cast<uInt>(tm.tm_hour);
    info->tmz_date.tm_mday = static_cast<uInt>(tm.tm_mday);
    info->tmz_date.tm_mon = static_cast<uInt>(tm.tm_mon);
    info->tmz_date.tm_year = static_cast<uInt>(tm.tm_year + 1900);
    info->dosDate = 0;
    info->internal_fa = 0;
    info->external_fa = 0;
}

}  // namespace

struct ZipWriter::Impl {
    zipFile zip = nullptr;
};

ZipWriter::ZipWriter() : impl_(std::make_unique<Impl>()) {}

ZipWriter::~ZipWriter() {
    if (impl_->zip != nullptr) zipClose(impl_->zip, nullptr);
}

namespace {

// The archive is opened by the platform layer, so that a UTF-8 path reaches Windows whole (the zip
// library's own opening goes through the narrow code page there).
voidpf ZCALLBACK openThroughPlatform(voidpf, const void* filename, int mode) {
    const char* how = nullptr;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ)
        how = "rb";
    else if (mode & ZLIB_FILEFUNC_MODE_EXISTING)
        how = "r+b";
    else if (mode & ZLIB_FILEFUNC_MODE_CREATE)
        how = "wb";
    return how != nullptr && filename != nullptr ? openFile(static_cast<const char*>(filename), how)
                                                 : nullptr;
}

}  // namespace

bool ZipWriter::open(const std::string& path) {
    if (impl_->zip != nullptr) zipClose(impl_->zip, nullptr);
    zlib_filefunc64_def io;
    fill_fopen64_filefunc(&io);
    io.zopen64_file = openThroughPlatform;
    impl_->zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &io);
    if (impl_->zip == nullptr) error_ = "cannot create " + path;
    return impl_->zip != nullptr;
}

bool ZipWriter::addDirectory(const std::string& name) {
    if (impl_->zip == nullptr) return false;
    zip_fileinfo info;
    dosTime(std::time(nullptr), &info);
    info.external_fa = (static_cast<uLong>(040755) << 16) | 0x10;
    if (zipOpenNewFileInZip4_64(impl_->zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0,
                                -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, kMadeByUnix, 0,
                                0) != ZIP_OK) {
        error_ = "cannot add " + name;
        return false;
    }
    return zipCloseFileInZip(impl_->zip) == ZIP_OK;
}

bool ZipWriter::addBytes(const std::string& name, const std::string& bytes, int level, unsigned mode) {
    if (impl_->zip == nullptr) return false;
    zip_fileinfo info;
    dosTime(std::time(nullptr), &info);
    if (mode != 0) info.external_fa = static_cast<uLong>(0100000 | (mode & 0777)) << 16;
    int method = level == 0 ? 0 : Z_DEFLATED;
    if (zipOpenNewFileInZip4_64(impl_->zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                level, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                kMadeByUnix, 0, bytes.size() >= 0xffffffffull) != ZIP_OK) {
        error_ = "cannot add " + name;
        return false;
    }
    bool ok = bytes.empty() ||
              zipWriteInFileInZip(impl_->zip, bytes.data(), static_cast<unsigned>(bytes.size())) == ZIP_OK;
    ok = zipCloseFileInZip(impl_->zip) == ZIP_OK && ok;
    if (!ok) error_ = "cannot write " + name;
    return ok;
}

bool ZipWriter::addFile(const std::string& name, const std::string& sourcePath, int level) {
    if (impl_->zip == nullptr) return false;
    PathInfo st;
    if (!pathInfo(sourcePath, &st)) {
        error_ = "cannot read " + sourcePath;
        return false;
    }
    FILE* in = openFile(sourcePath, "rb");
    if (in == nullptr) {
        error_ = "cannot read " + sourcePath;
        return false;
    }
    zip_fileinfo info;
    dosTime(static_cast<std::time_t>(st.modified), &info);
    info.external_fa = static_cast<uLong>(0100000 | (st.permissions & 0777)) << 16;
    int method = level == 0 ? 0 : Z_DEFLATED;
    if (zipOpenNewFileInZip4_64(impl_->zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                level, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                kMadeByUnix, 0, st.size >= 0xffffffffull) != ZIP_OK) {
        std::fclose(in);
        error_ = "cannot add " + name;
        return false;
    }
    std::vector<char> buffer(kChunk);
    bool ok = true;
    for (;;) {
        size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        if (n > 0 && zipWriteInFileInZip(impl_->zip, buffer.data(), static_cast<unsigned>(n)) != ZIP_OK) {
            ok = false;
            break;
        }
        if (n < buffer.size()) {
            ok = !std::ferror(in);
            break;
        }
    }
    std::fclose(in);
    ok = zipCloseFileInZip(impl_->zip) == ZIP_OK && ok;
    if (!ok) error_ = "cannot write " + name + " from " + sourcePath;
    return ok;
}

bool ZipWriter::close() {
    if (impl_->zip == nullptr) return false;
    int rc = zipClose(impl_->zip, nullptr);
    impl_->zip = nullptr;
    if (rc != ZIP_OK) error_ = "cannot finish the archive";
    return rc == ZIP_OK;
}

bool packGame(const PackOptions& options, PackResult* result, std::string* error) {
    // Written beside and renamed: a failed run keeps the archive already there, and a server
    // handing out the folder never serves half an archive.
    const std::string partPath = options.archivePath + ".part";
    auto fail = [&](const std::string& text) {
        if (error != nullptr) *error = text;
        std::error_code ignored;
        fs::remove(partPath, ignored);
        return false;
    };
    std::error_code ec;
    if (!fs::is_directory(options.gameDir, ec)) return fail("not a folder: " + options.gameDir);
    if (options.version.empty()) return fail("the version is empty");

    // Sorted so that the same folder always gives the same archive layout.
    std::vector<std::pair<std::string, bool>> items;  // relative name, is directory
    // Linked files and folders are packed under their own names, with what they point to.
    const fs::path base = fs::path(options.gameDir).lexically_normal();
    fs::recursive_directory_iterator it(options.gameDir, fs::directory_options::follow_directory_symlink, ec),
        end;
    if (ec) return fail("cannot list " + options.gameDir + ": " + ec.message());
    for (; it != end; it.increment(ec)) {
        if (ec) return fail("cannot list " + options.gameDir + ": " + ec.message());
        std::string rel = it->path().lexically_normal().lexically_relative(base).generic_string();
        if (it->is_symlink(ec) && it->is_directory(ec)) {
            // A link to a folder holding it would be followed until the path is too long.
            std::error_code ec2;
            fs::path target = fs::canonical(it->path(), ec);
            fs::path parent = fs::canonical(it->path().parent_path(), ec2);
            fs::path inside = parent.lexically_relative(target);
            if (!ec && !ec2 && !inside.empty() && *inside.begin() != "..")
                return fail("cannot pack " + rel + ": the linked folder holds the link itself");
        }
        if (it->is_directory(ec)) {
            items.emplace_back(rel + "/", true);
        } else if (it->is_regular_file(ec)) {
            if (rel != "version") items.emplace_back(rel, false);
        }
    }
    std::sort(items.begin(), items.end());
    // An archive the launcher refuses to extract would fail every player's update.
    for (const auto& item : items) {
        const std::string& name = item.first;
        const char* why = unsafeEntryNameReason(name);
        if (why == nullptr && name.size() >= kUnzipNameBufferSize) why = "name too long";
        if (why != nullptr)
            return fail("cannot pack " + name + ": " + why + ", the launcher would refuse it");
    }

    ZipWriter zip;
    if (!zip.open(partPath)) return fail(zip.error());
    size_t entries = 0;
    for (const auto& [name, isDir] : items) {
        bool ok = true;
        if (isDir) {
            if (!options.directoryEntries) continue;
            ok = zip.addDirectory(name);
        } else {
            ok = zip.addFile(name, (fs::path(options.gameDir) / name).string(), options.level);
        }
        if (!ok) return fail(zip.error());
        ++entries;
    }
    // Last, so that a launcher extracting in place never finds the new version beside old files.
    if (!zip.addBytes("version", options.version, options.level)) return fail(zip.error());
    ++entries;
    if (!zip.close()) return fail(zip.error());

    PackResult r;
    r.name = fs::path(options.archivePath).filename().string();
    r.size = static_cast<int64_t>(fs::file_size(partPath, ec));
    if (ec) return fail("cannot read back " + partPath);
    r.md5 = fileMd5(partPath);
    r.entries = entries;
    if (r.md5.empty()) return fail("cannot read back " + partPath);
    fs::rename(partPath, options.archivePath, ec);
    if (ec) return fail("cannot write " + options.archivePath + ": " + ec.message());
    if (result != nullptr) *result = r;
    return true;
}

namespace {

constexpr size_t kMaxManifestDepth = 64;

size_t nestingDepth(const rapidjson::Value& root) {
    size_t deepest = 0;
    std::vector<std::pair<const rapidjson::Value*, size_t>> pending{{&root, 1}};
    while (!pending.empty()) {
        auto [value, depth] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, depth);
        if (depth > kMaxManifestDepth) break;
        if (value->IsArray())
            for (const auto& item : value->GetArray()) pending.push_back({&item, depth + 1});
        else if (value->IsObject())
            for (const auto& member : value->GetObject()) pending.push_back({&member.value, depth + 1});
    }
    return deepest;
}

}  // namespace

bool mergeManifest(const std::string& existing, const ManifestEntry& entry, std::string* out,
                   std::string* error) {
    rapidjson::Document doc;
    if (existing.empty()) {
        doc.SetObject();
    } else {
        if (!parseJson(existing, &doc) || !doc.IsObject()) {
            if (error != nullptr) *error = "the existing manifest is not a JSON object";
            return false;
        }
        // Writing it back recurses once per level.
        if (nestingDepth(doc) > kMaxManifestDepth) {
            if (error != nullptr) *error = "the existing manifest is nested too deeply";
            return false;
        }
    }
    auto& a = doc.GetAllocator();
    auto set = [&a](rapidjson::Value& object, const char* key, rapidjson::Value value) {
        auto m = object.FindMember(key);
        if (m != object.MemberEnd())
            m->value = value;
        else
            object.AddMember(rapidjson::Value(key, a), value, a);
    };

    if (entry.downloadThread > 0) set(doc, "downloadThread", rapidjson::Value(entry.downloadThread));
    set(doc, "version",
        rapidjson::Value(entry.version.c_str(), static_cast<rapidjson::SizeType>(entry.version.size()), a));
    auto games = doc.FindMember("games");
    if (games == doc.MemberEnd() || !games->value.IsObject()) {
        set(doc, "games", rapidjson::Value(rapidjson::kObjectType));
        games = doc.FindMember("games");
    }
    rapidjson::Value game(rapidjson::kObjectType);
    game.AddMember(
        "name", rapidjson::Value(entry.name.c_str(), static_cast<rapidjson::SizeType>(entry.name.size()), a),
        a);
    game.AddMember("size", rapidjson::Value(static_cast<int64_t>(entry.size)), a);
    game.AddMember(
        "md5", rapidjson::Value(entry.md5.c_str(), static_cast<rapidjson::SizeType>(entry.md5.size()), a), a);
    if (entry.force >= 0) game.AddMember("force", rapidjson::Value(entry.force == 1), a);
    rapidjson::Value key(entry.version.c_str(), static_cast<rapidjson::SizeType>(entry.version.size()), a);
    auto old = games->value.FindMember(key);
    if (old != games->value.MemberEnd())
        old->value = game;
    else
        games->value.AddMember(key, game, a);

    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    doc.Accept(writer);
    if (out != nullptr) *out = std::string(buffer.GetString(), buffer.GetSize()) + "\n";
    return true;
}

}  // namespace veltrano
