// The login message the page hands over, and the bridge's page rules: any text reaches the handler
// exactly once with the Base64 of the whole message, and no address counts as trusted by accident.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "app/LaunchParams.h"
#include "util/Encoding.h"
#include "window/Bridge.h"

using namespace veltrano;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string message(reinterpret_cast<const char*>(data), size);
    LaunchParams* params = LaunchParams::instance();
    int calls = 0;
    std::string token, uid;
    params->setLoginHandler([&](const std::string& u, const std::string& t, const std::string&) {
        ++calls;
        uid = u;
        token = t;
    });
    params->onLogin(message);
    params->setLoginHandler(nullptr);
    fuzz::require(calls == 1, "the handler ran " + std::to_string(calls) + " times");
    fuzz::require(token == base64Encode(message), "the game token is not the message in Base64");
    fuzz::require(!uid.empty(), "an empty uid");

    // The same text as a page address.
    const std::string origin = webOrigin(message);
    if (!origin.empty()) {
        fuzz::require(origin.rfind("http://", 0) == 0 || origin.rfind("https://", 0) == 0,
                      "an origin of another scheme: " + origin);
        fuzz::require(isTrustedPage(message, BridgeTrust{origin, {}}),
                      "a page is not trusted by its own origin");
    }
    fuzz::require(!isTrustedPage(message, BridgeTrust{}), "a page is trusted with nothing configured");
    const std::string literal = jsStringLiteral(message);
    fuzz::require(
        literal.find_first_of("\n\r<", 0) == std::string::npos && literal.find('"', 1) == literal.size() - 1,
        "a script literal that can break out: " + literal);
    return 0;
}
