// Extraction of mutated archives into a folder of their own: no crash, and nothing written outside
// the destination, checked after every run on every level a ".." name could reach.

#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "update/Unzip.h"

using namespace veltrano;

namespace {

// Deeper than the ".." segments an entry name of at most 511 bytes can hold.
constexpr int kLevels = 180;

// The names in a folder, "." and ".." left out.
std::vector<std::string> entriesOf(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = fuzz::privateFolder();
    static const std::string dest = [] {
        std::string path = root;
        for (int i = 0; i < kLevels; ++i) path += "d/";
        std::filesystem::create_directories(path + "out");
        return path + "out/";
    }();
    const std::string zip = root + "in.zip";
    {
        std::ofstream out(zip, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    uncompressDir(zip.c_str(), dest.c_str(), nullptr);

    // Every level above the destination holds exactly what was there before.
    std::string level = root;
    for (int i = 0; i <= kLevels; ++i) {
        std::vector<std::string> names = entriesOf(level);
        const std::string expected = i == kLevels ? "out" : "d";
        const size_t extra = i == 0 ? 1 : 0;  // the archive itself
        if (names.size() != 1 + extra) fuzz::broken("something appeared beside the destination in " + level);
        for (const std::string& name : names)
            if (name != expected && !(i == 0 && name == "in.zip"))
                fuzz::broken("\"" + name + "\" appeared in " + level);
        if (i < kLevels) level += "d/";
    }
    std::error_code ec;
    std::filesystem::remove_all(dest, ec);
    std::filesystem::create_directories(dest, ec);
    return 0;
}
