#pragma once

#include <string>

// Listens on a loopback port (printed first) and starts the server program self for each connection.
// Runs until killed.
int runSpawner(const std::string& self);
