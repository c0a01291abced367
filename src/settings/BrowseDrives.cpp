#include "settings/BrowseDrives.h"

#include <algorithm>
#include <array>
#include <filesystem>

namespace quendo {
namespace {

// Mount points are written with octal escapes for blank, tab, line end and backslash.
std::string Unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' &&
            s[i + 3] <= '7') {
            out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool IsPseudoFileSystem(std::string_view type) {
    static constexpr std::array<std::string_view, 22> kPseudo = {
        "proc",      "sysfs",      "devtmpfs", "devpts",  "cgroup",    "cgroup2", "securityfs", "pstore",
        "debugfs",   "tracefs",    "configfs", "fusectl", "mqueue",    "hugetlbfs", "bpf",      "autofs",
        "binfmt_misc", "efivarfs", "selinuxfs", "rpc_pipefs", "nsfs",  "ramfs"};
    return std::find(kPseudo.begin(), kPseudo.end(), type) != kPseudo.end();
}

bool Under(std::string_view path, std::string_view folder) {
    return path == folder || (path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
                              path[folder.size()] == '/');
}

// The system's own mounts, not places where music lives.
bool IsSystemPlace(std::string_view path) {
    if (Under(path, "/proc") || Under(path, "/sys") || Under(path, "/dev")) return true;
    return Under(path, "/run") && !Under(path, "/run/media");
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_directory(path, ec);
}

}  // namespace

std::vector<std::string> MountedFileSystems(std::string_view table) {
    std::vector<std::string> drives{"/"};
    while (!table.empty()) {
        const std::size_t end = table.find('\n');
        std::string_view line = table.substr(0, end);
        table = end == std::string_view::npos ? std::string_view{} : table.substr(end + 1);

        std::array<std::string_view, 3> field;  // device, mount point, type
        std::size_t n = 0;
        while (n < field.size()) {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string_view::npos) break;
            line.remove_prefix(start);
            const std::size_t stop = std::min(line.find_first_of(" \t"), line.size());
            field[n++] = line.substr(0, stop);
            line.remove_prefix(stop);
        }
        if (n < field.size() || IsPseudoFileSystem(field[2])) continue;
        std::string mountPoint = Unescape(field[1]);
        if (mountPoint.empty() || mountPoint.front() != '/' || IsSystemPlace(mountPoint)) continue;
        if (std::find(drives.begin(), drives.end(), mountPoint) == drives.end())
            drives.push_back(std::move(mountPoint));
    }
    return drives;
}

std::string BrowseStartFolder(const std::string& userMusicFolder, const std::string& home) {
    if (IsFolder(userMusicFolder)) return userMusicFolder;
    if (IsFolder(home)) return home;
    return "/";
}

std::string DriveOfPath(const std::vector<std::string>& drives, const std::string& path) {
    std::string best = "/";
    for (const std::string& d : drives)
        if (d.size() > best.size() && Under(path, d)) best = d;
    return best;
}

}  // namespace quendo
