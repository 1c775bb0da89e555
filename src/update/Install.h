#pragma once
// Puts a new game tree in place of the installed one so that the game folder always holds one
// complete tree: the archive is extracted into a staging folder beside the game folder, and the
// two trees are exchanged by renames on the same file system.
//
// On disk, for a game folder G:
//   G.veltrano-staging  the tree being extracted; never complete as far as a start knows
//   G.veltrano-old      the previous tree while the exchange runs, removed right after it
// A start removes leftovers of both, and puts G.veltrano-old back when G itself is missing.

#include <functional>
#include <string>

namespace veltrano {

struct InstallPaths {
    std::string game;     // the game folder, no trailing "/"
    std::string staging;  // beside it, same parent
    std::string old;
};

// The folders for a game directory as the Updater names it (ending in "/").
InstallPaths installPaths(const std::string& gameDirectory);

// Removes a leftover staging folder and creates it fresh. False (logged) when that fails.
bool prepareStaging(const InstallPaths& paths);

// Removes the staging folder (after a failed or refused extraction).
void discardStaging(const InstallPaths& paths);

// Flushes the staged files to disk, exchanges the staged tree with the installed one and then
// removes the old tree. False (logged) when the staged tree could not be put in place; the
// installed game is then as it was.
bool putStagingInPlace(const InstallPaths& paths);

// Repairs what an interrupted update left behind; logs what it found and did. Removing leftover
// trees may take long: not for the UI thread.
void recoverInterruptedInstall(const InstallPaths& paths);

// Only the quick part of that: puts the previous game back when an exchange was cut off between
// its two renames, so that the installed version can be read.
void restoreInterruptedGame(const InstallPaths& paths);

// Waits for an exchange in progress to finish and keeps later ones from starting: called when
// the process is about to end while an update may be running.
void holdInstallExchanges();

// Called inside every exchange, between moving the old tree aside and moving the new one in: lets a
// test hold an exchange half done. Empty by default.
void setExchangeMidpointForTesting(std::function<void()> midpoint);

}  // namespace veltrano
