// veltrano-pack: turns a game folder into the archive and manifest the launcher downloads.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "pack/Pack.h"
#include "platform/CommandLine.h"
#include "update/Manifest.h"

namespace {

const char kUsage[] =
    "Usage: veltrano-pack --game DIR --version VERSION [options]\n"
    "\n"
    "Packs the game folder DIR into a zip archive whose top-level \"version\" entry holds VERSION\n"
    "(a \"version\" file inside DIR is replaced by it), and writes the version manifest that offers it.\n"
    "\n"
    "Options:\n"
    "  --out-dir DIR          where the archive goes (default: current folder)\n"
    "  --name NAME            archive file name (default: game-VERSION.zip)\n"
    "  --manifest PATH        manifest to write (default: OUT-DIR/version.json)\n"
    "  --merge PATH           existing manifest to add the new version to; other versions are kept\n"
    "                         (may be the same file as --manifest)\n"
    "  --force true|false     write \"force\" into the version's entry (default: omitted)\n"
    "  --download-thread N    write \"downloadThread\" (1..64) into the manifest (default: omitted)\n"
    "  --level N              compression level 0 (store) .. 9 (default: 6)\n"
    "  --no-dir-entries       do not write directory entries\n"
    "  -h, --help             this text\n"
    "\n"
    "Prints the archive's name, size, md5 and entry count. Exit status: 0 done, 1 bad usage,\n"
    "2 packing or writing failed.\n";

int usage(const std::string& problem) {
    std::fprintf(stderr, "veltrano-pack: %s\n\n%s", problem.c_str(), kUsage);
    return 1;
}

bool readWhole(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *out = s.str();
    return true;
}

bool parseInt(const char* text, long lo, long hi, int* out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // UTF-8 arguments on every system (folder names beyond the ANSI code page on Windows).
    const std::vector<std::string> utf8Args = veltrano::systemArguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (const std::string& a : utf8Args) utf8Argv.push_back(const_cast<char*>(a.c_str()));
    utf8Argv.push_back(nullptr);
    argv = utf8Argv.data();
    std::string game, version, outDir = ".", name, manifestPath, mergePath;
    int force = -1, threads = 0, level = 6;
    bool dirEntries = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--no-dir-entries") {
            dirEntries = false;
        } else if (arg == "--game" || arg == "--version" || arg == "--out-dir" || arg == "--name" ||
                   arg == "--manifest" || arg == "--merge" || arg == "--force" ||
                   arg == "--download-thread" || arg == "--level") {
            if (!value(&v)) return usage(arg + " needs a value");
            if (arg == "--game")
                game = v;
            else if (arg == "--version")
                version = v;
            else if (arg == "--out-dir")
                outDir = v;
            else if (arg == "--name")
                name = v;
            else if (arg == "--manifest")
                manifestPath = v;
            else if (arg == "--merge")
                mergePath = v;
            else if (arg == "--force") {
                if (std::strcmp(v, "true") == 0)
                    force = 1;
                else if (std::strcmp(v, "false") == 0)
                    force = 0;
                else
                    return usage("--force takes true or false");
            } else if (arg == "--download-thread") {
                if (!parseInt(v, 1, 64, &threads))
                    return usage("--download-thread takes a number from 1 to 64");
            } else if (!parseInt(v, 0, 9, &level)) {
                return usage("--level takes a number from 0 to 9");
            }
        } else {
            return usage("unknown argument " + arg);
        }
    }
    if (game.empty() || version.empty()) return usage("--game and --version are required");
    if (name.empty()) name = "game-" + version + ".zip";
    if (!veltrano::isPlainFileName(name)) return usage("--name must be a plain file name: " + name);
    if (manifestPath.empty()) manifestPath = (std::filesystem::path(outDir) / "version.json").string();

    std::string existing;
    if (!mergePath.empty() && !readWhole(mergePath, &existing)) {
        std::fprintf(stderr, "veltrano-pack: cannot read %s\n", mergePath.c_str());
        return 2;
    }

    // A manifest that cannot be merged is found out before minutes of packing.
    std::string error;
    if (!existing.empty() &&
        !veltrano::mergeManifest(existing, veltrano::ManifestEntry{version, name, 1, "", -1, 0}, nullptr,
                                 &error)) {
        std::fprintf(stderr, "veltrano-pack: %s: %s\n", mergePath.c_str(), error.c_str());
        return 2;
    }
    std::error_code dirError;
    std::filesystem::create_directories(outDir, dirError);

    veltrano::PackOptions options;
    options.gameDir = game;
    options.version = version;
    options.archivePath = (std::filesystem::path(outDir) / name).string();
    options.level = level;
    options.directoryEntries = dirEntries;
    veltrano::PackResult result;
    if (!veltrano::packGame(options, &result, &error)) {
        std::fprintf(stderr, "veltrano-pack: %s\n", error.c_str());
        return 2;
    }

    veltrano::ManifestEntry entry{version, result.name, result.size, result.md5, force, threads};
    std::string manifest;
    if (!veltrano::mergeManifest(existing, entry, &manifest, &error)) {
        std::fprintf(stderr, "veltrano-pack: %s: %s\n", mergePath.c_str(), error.c_str());
        return 2;
    }
    // Written beside and renamed, so a reader never sees half a manifest.
    std::string tmp = manifestPath + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << manifest;
        if (!out.flush()) {
            std::fprintf(stderr, "veltrano-pack: cannot write %s\n", manifestPath.c_str());
            return 2;
        }
    }
    std::error_code ec;
    std::filesystem::rename(tmp, manifestPath, ec);
    if (ec) {
        std::fprintf(stderr, "veltrano-pack: cannot write %s: %s\n", manifestPath.c_str(),
                     ec.message().c_str());
        return 2;
    }
    std::printf("archive  %s\nname     %s\nsize     %lld\nmd5      %s\nentries  %zu\nmanifest %s\n",
                options.archivePath.c_str(), result.name.c_str(), static_cast<long long>(result.size),
                result.md5.c_str(), result.entries, manifestPath.c_str());
    return 0;
}
