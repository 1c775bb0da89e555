#pragma once
// Small helpers every kind of test needs.

#include <chrono>
#include <functional>
#include <string>

namespace veltrano::test {

// The whole file (binary); empty when it is missing or unreadable.
std::string readFile(const std::string& path);

// Lowercase hexadecimal MD5 of the bytes.
std::string md5Of(const std::string& bytes);

// Ticks the scheduler as the window's timer would, until the condition holds; false at the limit.
bool pumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace veltrano::test
