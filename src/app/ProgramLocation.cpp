#include "app/ProgramLocation.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "library/SafeFile.h"

namespace quendo {
namespace {

namespace fs = std::filesystem;

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

// $HOME, or the account's home when it is unset (a service started without one).
std::string HomeFolder(const Environment& environment) {
    std::string home = environment("HOME");
    if (IsAbsolute(home)) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        IsAbsolute(found->pw_dir))
        return found->pw_dir;
    return "/";
}

// A base folder of the desktop's layout: the variable when it holds an absolute path (a relative
// one is to be ignored), else its default below home.
std::string BaseFolder(const Environment& environment, const char* variable, const char* belowHome) {
    std::string folder = environment(variable);
    if (IsAbsolute(folder)) return folder;
    return BesideExecutable(HomeFolder(environment), belowHome);
}

}  // namespace

std::string ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

ProgramFiles LocateProgramFiles(const std::string& executable, const Environment& environment) {
    ProgramFiles files;
    const std::string folder = FolderOfPath(executable);
    if (folder.empty()) return files;

    const fs::path bin(folder);
    const fs::path shared = bin.parent_path() / "share" / "quendo";
    std::error_code ec;
    if (bin.filename() == "bin" && fs::is_directory(shared, ec)) {
        files.installed = true;
        files.settingsFolder = BesideExecutable(BaseFolder(environment, "XDG_CONFIG_HOME", ".config"), "quendo");
        files.cacheFolder = BesideExecutable(BaseFolder(environment, "XDG_CACHE_HOME", ".cache"), "quendo");
        files.helpFile = (shared / "help" / kHelpFileName).string();
        files.demoLibrary = (shared / kDemoLibraryName).string();
        return files;
    }
    files.settingsFolder = folder;
    files.cacheFolder = folder;
    files.helpFile = BesideExecutable(folder, kHelpFileName);
    files.demoLibrary = BesideExecutable(folder, kDemoLibraryName);
    return files;
}

}  // namespace quendo
