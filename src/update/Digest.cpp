#include "update/Digest.h"

#include <cstdio>
#include <vector>

#include "platform/File.h"
#include "util/Encoding.h"

namespace veltrano {

namespace {

constexpr size_t kChunk = 1 << 16;

}  // namespace

std::string fileMd5(const std::string& path) {
    FILE* f = openFile(path, "rb");
    if (f == nullptr) return "";
    Md5Context ctx;
    md5Init(&ctx);
    std::vector<unsigned char> buffer(kChunk);
    uint64_t total = 0;
    bool ok = true;
    for (;;) {
        size_t n = std::fread(buffer.data(), 1, buffer.size(), f);
        if (n > 0) {
            md5Append(&ctx, buffer.data(), n);
            total += n;
        }
        if (n < buffer.size()) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    if (!ok || total == 0) return "";
    unsigned char digest[16];
    md5Finish(&ctx, digest);
    return md5DigestHex(digest);
}

}  // namespace veltrano
