#pragma once
// The standard streams of a terminal program.

#include <cstdio>
#include <string>

namespace veltrano {

// Moves standard output aside: returns a stream on the original standard output and points the
// process's own stdout at standard error (toStandardError) or at nothing, so that library output
// cannot mix into what the program prints. Null when the output could not be duplicated.
FILE* detachStandardOutput(bool toStandardError);

// Writes to standard output without ever waiting or raising a signal: a reader that does not keep up
// loses the rest of the bytes. False once the output turned out closed (nothing more should be tried).
bool writeConsoleNoWait(const std::string& bytes);

// Writing to an output whose reader went away fails with an error instead of ending the process.
void ignoreClosedOutputSignal();

// True when the stream writes to a terminal.
bool isTerminal(FILE* stream);

}  // namespace veltrano
