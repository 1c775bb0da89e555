#include "update/Manifest.h"

#include <cctype>

#include "config/Json.h"

namespace veltrano {

namespace {

ManifestDecision failed(ManifestDecision d, std::string problem) {
    d.action = ManifestAction::Fail;
    d.problem = std::move(problem);
    return d;
}

}  // namespace

ManifestDecision judgeManifest(const std::string& body, const std::string& curVer, bool noLocalVersion) {
    ManifestDecision d;
    rapidjson::Document doc;
    if (!parseJson(body, &doc) || !doc.IsObject()) {
        d.action = ManifestAction::Retry;
        d.problem = "not a JSON object";
        return d;
    }

    auto threads = doc.FindMember("downloadThread");
    if (threads != doc.MemberEnd()) {
        const auto& v = threads->value;
        if (v.IsInt64() || v.IsUint64()) {
            int64_t n = v.IsInt64() ? v.GetInt64() : INT64_MAX;
            int32_t clamped = static_cast<int32_t>(n < kMinDownloadThreads   ? kMinDownloadThreads
                                                   : n > kMaxDownloadThreads ? kMaxDownloadThreads
                                                                             : n);
            d.hasDownloadThread = true;
            d.downloadThread = clamped;
            if (clamped != n) d.problem = "downloadThread clamped to " + std::to_string(clamped);
        } else {
            d.problem = "downloadThread is not an integer, ignored";
        }
    }

    auto version = doc.FindMember("version");
    if (version == doc.MemberEnd()) return failed(d, "no \"version\"");
    if (!version->value.IsString()) return failed(d, "\"version\" is not a string");
    d.svrVer.assign(version->value.GetString(), version->value.GetStringLength());
    d.hasSvrVer = true;

    if (d.svrVer == curVer) {
        d.action = ManifestAction::Finish;
        return d;
    }

    auto games = doc.FindMember("games");
    if (games == doc.MemberEnd() || !games->value.IsObject()) return failed(d, "no \"games\" object");
    auto entry = games->value.FindMember(
        rapidjson::Value(d.svrVer.data(), static_cast<rapidjson::SizeType>(d.svrVer.size())));
    if (entry == games->value.MemberEnd()) return failed(d, "no \"games\" entry for version " + d.svrVer);
    const auto& game = entry->value;
    if (!game.IsObject()) return failed(d, "the \"games\" entry is not an object");
    auto force = game.FindMember("force");
    const bool forced = force != game.MemberEnd() && force->value.IsTrue();
    // An installed game that is not to be replaced keeps running whatever the entry holds.
    auto keepInstalled = [&](ManifestDecision kept, std::string problem) {
        if (noLocalVersion || forced) return failed(std::move(kept), std::move(problem));
        kept.action = ManifestAction::Finish;
        kept.problem = std::move(problem);
        return kept;
    };

    auto name = game.FindMember("name");
    auto size = game.FindMember("size");
    auto md5 = game.FindMember("md5");
    if (name == game.MemberEnd() || !name->value.IsString())
        return keepInstalled(d, "\"name\" missing or not a string");
    if (size == game.MemberEnd() || !size->value.IsInt64())
        return keepInstalled(d, "\"size\" missing or not an integer");
    if (md5 == game.MemberEnd() || !md5->value.IsString())
        return keepInstalled(d, "\"md5\" missing or not a string");
    d.name.assign(name->value.GetString(), name->value.GetStringLength());
    d.size = size->value.GetInt64();
    d.md5.assign(md5->value.GetString(), md5->value.GetStringLength());
    if (!isPlainFileName(d.name)) return keepInstalled(d, "\"name\" is not a plain file name");
    if (d.size <= 0) return keepInstalled(d, "\"size\" is not positive");

    d.action = (noLocalVersion || forced) ? ManifestAction::Download : ManifestAction::Finish;
    return d;
}

bool sameDigest(const std::string& a, const std::string& b) {
    if (a.empty() || a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool isDedicatedGameDir(const std::string& gameDir, std::string* why) {
    auto refuse = [why](const char* text) {
        if (why != nullptr) *why = text;
        return false;
    };
    if (gameDir.empty()) return refuse("it is empty");
    if (gameDir.find('\0') != std::string::npos) return refuse("it holds a NUL byte");
    if (gameDir[0] == '/' || gameDir[0] == '\\') return refuse("it is absolute");
    if (gameDir.size() >= 2 && gameDir[1] == ':' && std::isalpha(static_cast<unsigned char>(gameDir[0])))
        return refuse("it starts with a drive letter");
    bool named = false;
    size_t start = 0;
    while (start <= gameDir.size()) {
        size_t end = gameDir.find_first_of("/\\", start);
        if (end == std::string::npos) end = gameDir.size();
        std::string segment = gameDir.substr(start, end - start);
        if (segment == "..") return refuse("it has a \"..\" segment");
        if (!segment.empty() && segment != ".") named = true;
        start = end + 1;
    }
    if (!named) return refuse("it names the launcher directory itself");
    return true;
}

bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

}  // namespace veltrano
