#pragma once
// The launcher's own command line as one text, and the splitting rules of the system the game was
// built for, so that the game sees the same arguments whichever system starts it.

#include <string>
#include <vector>

namespace veltrano {

// The program's arguments as UTF-8 texts: argv itself, except on Windows, where main's narrow argv is
// in the ANSI code page and the arguments are read again from the wide command line.
std::vector<std::string> systemArguments(int argc, const char* const* argv);

// Keeps a copy of the process arguments; called once at start-up, before any other thread runs.
void setApplicationArguments(int argc, const char* const* argv);

// argv[1..] joined by single blanks. Arguments holding a blank, a tab or a double quote (and empty
// ones) are quoted so that splitWindowsCommandLine gives back the same arguments.
std::string applicationCommandLine();

// One argument in the quoted form used by applicationCommandLine (unchanged when no quoting is needed).
std::string quoteWindowsArgument(const std::string& argument);

// Splits a command line by the Windows runtime rules: blanks and tabs separate, double quotes group,
// backslashes are literal except in front of a double quote, "" inside quotes is a literal quote.
// With programNameFirst the first argument follows the program-name rule: a quoted name ends at the
// next quote and backslashes never escape.
std::vector<std::string> splitWindowsCommandLine(const std::string& text, bool programNameFirst = false);

}  // namespace veltrano
