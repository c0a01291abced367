#pragma once
#include <string>

namespace quendo {

// The files the program keeps beside its executable.
inline constexpr const char* kConfigurationFileName = "qnd.cfg";
inline constexpr const char* kPlaylistFileName = "qnd.m3u";
// The automix settings the configuration file has no place for, one key=value a line.
inline constexpr const char* kAutoMixFileName = "automix.cfg";
inline constexpr const char* kHelpFileName = "Quendo.html";
// Locked by the running copy for as long as it lives.
inline constexpr const char* kLockFileName = "qnd.lock";

// `name` in the program's folder; the bare name while the folder is unknown.
inline std::string BesideExecutable(const std::string& programFolder, const char* name) {
    if (programFolder.empty()) return name;
    if (programFolder.back() == '/') return programFolder + name;
    return programFolder + '/' + name;
}

}  // namespace quendo
