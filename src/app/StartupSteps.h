#pragma once
// The pure pieces of start-up: splitting texts, reading the launcher's own command line and the
// file parameter hidden in the name of the program that started it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrano {

// Splits at every occurrence of `separator`. Empty parts between separators and a leading empty part
// stay; a trailing separator adds nothing; an empty text or an empty separator gives an empty list.
std::vector<std::string> splitString(const std::string& text, const std::string& separator);

// A decimal number as the C runtime reads it: leading blanks skipped, an optional sign, digits up to
// the first non-digit. No digits gives 0; values beyond 64 bits saturate.
int64_t parseDecimalInt64(const std::string& text);

// What the launcher's command line asks for. Unset options leave the launch values alone.
struct StartupOptions {
    std::optional<std::string> token;
    std::optional<std::string> source;
    std::optional<std::string> serverid;
    std::optional<std::string> fcext;
    std::optional<int64_t> parentWindow;
    std::string userName;  // the value of "--noicon", which the reports carry as the user name
    bool makeShortcut = true;
};

// Reads blank-separated tokens of the form option=value; the option may stand anywhere in the token,
// a token that does not split into exactly two parts at "=" is ignored, and a later token wins.
StartupOptions parseStartupCommandLine(const std::string& commandLine);

// The file parameter carried by an installer's file name: the second "_"-separated part of the name
// without its extension ("setup_abc.exe" and "setup_abc" both give "abc"). Empty when there is none.
std::string fileParamFromExeName(const std::string& exeName);

}  // namespace veltrano
