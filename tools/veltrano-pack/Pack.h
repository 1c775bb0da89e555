#pragma once
// The studio's side of an update: the game archive and its manifest entry.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veltrano {

// Writes a zip archive entry by entry (zip64 where needed). Names are used as given, so callers
// can also produce unusual archives on purpose.
class ZipWriter {
public:
    ZipWriter();
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    bool open(const std::string& path);
    // level 0 stores; 1..9 deflate. mode: Unix permission bits to record, 0 for none.
    bool addBytes(const std::string& name, const std::string& bytes, int level = 6, unsigned mode = 0644);
    bool addFile(const std::string& name, const std::string& sourcePath, int level = 6);
    bool addDirectory(const std::string& name);  // name ends in "/"
    bool close();
    const std::string& error() const { return error_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string error_;
};

struct PackOptions {
    std::string gameDir;      // folder whose contents become the archive
    std::string version;      // written as the top-level "version" entry
    std::string archivePath;  // where the zip goes
    int level = 6;
    bool directoryEntries = true;
};

struct PackResult {
    std::string name;  // archive file name
    int64_t size = 0;
    std::string md5;
    size_t entries = 0;
};

// Packs gameDir (sorted, recursive; a "version" file of the folder is replaced by the given
// version). False with *error on failure; no half-written archive is left behind.
bool packGame(const PackOptions& options, PackResult* result, std::string* error);

struct ManifestEntry {
    std::string version;
    std::string name;
    int64_t size = 0;
    std::string md5;
    int force = -1;          // -1 absent, 0 false, 1 true
    int downloadThread = 0;  // 0 absent
};

// Adds (or replaces) the entry for entry.version in an existing manifest text (empty: a new one)
// and makes it the offered version. Other versions' entries are kept. False with *error when the
// existing text is not a JSON object.
bool mergeManifest(const std::string& existing, const ManifestEntry& entry, std::string* out,
                   std::string* error);

}  // namespace veltrano
