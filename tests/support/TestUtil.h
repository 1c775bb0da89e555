#pragma once
// Small helpers every kind of test needs.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace veltrano::test {

// File names are UTF-8 texts in the launcher; these convert for std::filesystem and the streams,
// which take the system's narrow code page on Windows.
std::filesystem::path pathOf(const std::string& utf8);
std::string utf8Of(const std::filesystem::path& path);

// The whole file (binary); empty when it is missing or unreadable.
std::string readFile(const std::string& path);

// A new, empty folder <temp>/<prefix><unique>, without trailing "/"; empty on failure.
std::string makeTempFolder(const std::string& prefix);
// Removes a tree even when tests left read-only files or folders in it; never follows links.
void removeTree(const std::string& path);

// A loopback TCP port that was free a moment ago (another process may take it since); 0 on failure.
int freeLoopbackPort();

// Sets or removes an environment variable of this process (and of the programs it starts). Windows
// keeps no empty variables: there an empty value removes it.
void setEnv(const std::string& name, const std::string& value);
void unsetEnv(const std::string& name);

// Lowercase hexadecimal MD5 of the bytes.
std::string md5Of(const std::string& bytes);

// Ticks the scheduler as the window's timer would, until the condition holds; false at the limit.
bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace veltrano::test
