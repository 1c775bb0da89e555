#include "config/Json.h"

namespace veltrano {

bool parseJson(const std::string& text, rapidjson::Document* doc) {
    doc->Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
    return !doc->HasParseError();
}

}  // namespace veltrano
