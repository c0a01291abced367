#pragma once
#include <optional>
#include <string>

#include "library/LibraryScan.h"

namespace quendo {

// The running executable's path from /proc/self/exe; "" when it cannot be read.
std::string RunningExecutablePath();

// The folder part of a path, no trailing '/' except for the root; "" when there is none.
std::string FolderOfPath(const std::string& path);

// A chosen folder as MusicFolder: ends with '/', the root stays "/".
std::string MusicFolderFromChoice(const std::string& chosen);

// The first-run check of a chosen tree: the message to show, or nothing when accepted.
std::optional<std::string> FirstRunLimitMessage(const LibraryCount& count);

// The splash screen's vertical centre and its slide-out, one step every 5 ms.
int CentredTop(int screenHeight, int formHeight);
struct SlideStep {
    int top;
    bool close;
};
// With the animation off the form would never reach the bottom, so it closes at once.
SlideStep SlideOutStep(int top, int screenHeight, bool animate);

}  // namespace quendo
