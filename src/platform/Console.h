#pragma once
// The standard streams of a terminal program.

#include <cstdio>

namespace veltrano {

// Moves standard output aside: returns a stream on the original standard output and points the
// process's own stdout at standard error (toStandardError) or at nothing, so that library output
// cannot mix into what the program prints. Null when the output could not be duplicated.
FILE* detachStandardOutput(bool toStandardError);

// True when the stream writes to a terminal.
bool isTerminal(FILE* stream);

}  // namespace veltrano
