// A small program the Windows platform tests start.
//   win_helper sleep               waits until it is ended
//   win_helper -workdir <folder> ...  (started as the game) writes its UTF-8 arguments to
//                                  <folder>argv.txt, each followed by a NUL byte
//   win_helper receive <folder>    opens a message window, writes its id to <folder>/window.txt and
//                                  the first copy-data message to <folder>/message.bin
//                                  ("<dwData> <wordParam>\n" then the data); ends after it
// Files appear whole: written beside, then renamed.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/File.h"
#include "platform/FileUtils.h"
#include "platform/WindowMessage.h"

namespace {

bool writeWhole(const std::string& path, const std::string& bytes) {
    const std::string part = path + ".part";
    FILE* f = veltrano::openFile(part, "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    return ok && veltrano::FileUtils::instance()->renameFile(part, path);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = veltrano::systemArguments(argc, argv);
    if (args.size() >= 2 && args[1] == "sleep") {
        Sleep(INFINITE);
        return 0;
    }
    if (args.size() >= 3 && args[1] == "-workdir") {
        std::string all;
        for (const std::string& a : args) all += a + '\0';
        return writeWhole(args[2] + "argv.txt", all) ? 0 : 1;
    }
    if (args.size() >= 3 && args[1] == "receive") {
        veltrano::WindowMessageReceiver receiver(0);
        if (!receiver.isOpen()) return 2;
        if (!writeWhole(args[2] + "/window.txt", std::to_string(receiver.windowId()))) return 3;
        // Bounded, so a test that never sends does not leave this program behind.
        auto msg = receiver.wait(120000);
        if (!msg) return 4;
        const std::string head = std::to_string(msg->dwData) + " " + std::to_string(msg->wordParam) + "\n";
        return writeWhole(args[2] + "/message.bin", head + msg->data) ? 0 : 5;
    }
    return 64;
}
