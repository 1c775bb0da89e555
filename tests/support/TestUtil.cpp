#include "support/TestUtil.h"

#include <fstream>
#include <sstream>
#include <thread>

#include "net/Scheduler.h"
#include "util/Encoding.h"

namespace veltrano::test {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string md5Of(const std::string& bytes) {
    Md5Context ctx;
    md5Init(&ctx);
    md5Append(&ctx, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    unsigned char digest[16];
    md5Finish(&ctx, digest);
    return md5DigestHex(digest);
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Scheduler::instance()->tick(0.03f);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace veltrano::test
