#pragma once
#include <string>

namespace quendo {

// The files the program keeps in its settings folder (beside its executable, or the user's
// configuration folder for an installed copy).
inline constexpr const char* kConfigurationFileName = "qnd.cfg";
inline constexpr const char* kPlaylistFileName = "qnd.m3u";
// The automix settings the configuration file has no place for, one key=value a line.
inline constexpr const char* kAutoMixFileName = "automix.cfg";
inline constexpr const char* kHelpFileName = "Quendo.html";
// What the track analysis found, so that a file is analysed once.
inline constexpr const char* kAnalysisCacheFileName = "analysis.cache";
inline constexpr const char* kDemoLibraryName = "Demo Music";
// Locked by the running copy for as long as it lives.
inline constexpr const char* kLockFileName = "qnd.lock";

// Where the program's files live, decided once at start from the executable's place.
struct ProgramFiles {
    std::string settingsFolder;  // "qnd.cfg", "qnd.m3u", "automix.cfg"; "" when unknown
    std::string cacheFolder;     // what the analysis keeps between runs
    std::string helpFile;
    std::string demoLibrary;     // the music that comes with the program
    bool installed = false;      // under <prefix>/bin with <prefix>/share/quendo beside it
};

// `name` in the program's folder (`ProgramFolder`, where its files live); the bare name while the
// folder is unknown.
inline std::string BesideExecutable(const std::string& programFolder, const char* name) {
    if (programFolder.empty()) return name;
    if (programFolder.back() == '/') return programFolder + name;
    return programFolder + '/' + name;
}

}  // namespace quendo
