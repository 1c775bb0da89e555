#pragma once
// JSON from outside the launcher (launcher.cfg, the manifest, the page's login message).

#include <rapidjson/document.h>

#include <string>

namespace veltrano {

// Parses text into doc without recursion, so no nesting depth can exhaust the stack. False when the
// text is not one JSON value.
bool parseJson(const std::string& text, rapidjson::Document* doc);

}  // namespace veltrano
