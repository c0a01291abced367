#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace quendo {

// The directory chooser's drive list: the mount points of real file systems in the order of
// the mount table (as /proc/self/mounts gives it), the root first, each once.
std::vector<std::string> MountedFileSystems(std::string_view mounts);

// The folder the chooser opens in: the user's music folder if it exists, else home (else the
// root).
std::string BrowseStartFolder(const std::string& userMusicFolder, const std::string& home);

// The longest mount point that holds path (the drive shown for it).
std::string DriveOfPath(const std::vector<std::string>& drives, const std::string& path);

}  // namespace quendo
