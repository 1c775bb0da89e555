#pragma once
// The archive digest both sides of an update compute: the studio when it packs, the launcher when it
// checks what it holds.

#include <string>

namespace veltrano {

// Lowercase hexadecimal MD5 of a file, read in bounded chunks; empty when the file is missing,
// unreadable or empty.
std::string fileMd5(const std::string& path);

}  // namespace veltrano
