// The copy-data record of window messages, as any process of the user may send it: a record is
// either refused or read back exactly as it was written.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/WindowMessage.h"

using namespace veltrano;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto message = decodeCopyData(data, size);
    if (!message) return 0;
    fuzz::require(message->message == kWmCopyData, "a record of another kind was taken");
    const std::string again = encodeCopyData(message->wordParam, message->dwData, message->data.data(),
                                             static_cast<uint32_t>(message->data.size()));
    fuzz::require(again == std::string(reinterpret_cast<const char*>(data), size),
                  "a record does not encode back to its bytes");
    return 0;
}
