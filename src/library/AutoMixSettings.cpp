#include "library/AutoMixSettings.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "library/SafeFile.h"
#include "library/TextLines.h"

namespace quendo {

namespace {

constexpr std::size_t kMaxBytes = 64 * 1024;  // a few lines; anything larger is not this file

std::string_view Trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<bool> Switch(std::string_view v) {
    if (v == "1" || v == "true") return true;
    if (v == "0" || v == "false") return false;
    return std::nullopt;
}

std::optional<double> Target(std::string_view v) {
    double d = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
    if (ec != std::errc() || end != v.data() + v.size() || !std::isfinite(d)) return std::nullopt;
    if (d < kLowestTargetLufs || d > kHighestTargetLufs) return std::nullopt;
    return d;
}

// A device name as the system reports one: a line of printable text.
std::optional<std::string> DeviceName(std::string_view v) {
    if (v.size() > 255) return std::nullopt;
    for (const char c : v)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
    return std::string(v);
}

void Apply(AutoMixOptions& o, std::string_view key, std::string_view value) {
    bool* flag = key == "mixAtLastSound"       ? &o.mixAtLastSound
                 : key == "skipSilenceAtStart" ? &o.skipSilenceAtStart
                 : key == "matchLoudness"      ? &o.matchLoudness
                 : key == "playlistFollowsPlay" ? &o.playlistFollowsPlay
                 : key == "oneInstance"         ? &o.oneInstance
                 : key == "stayAwake"           ? &o.stayAwake
                 : key == "mixOnBeat"           ? &o.mixOnBeat
                 : key == "showArtistAndTitle"  ? &o.showArtistAndTitle
                 : key == "keepArtistsApart"    ? &o.keepArtistsApart
                 : key == "joinContinuousAlbums" ? &o.joinContinuousAlbums
                 : key == "chooseByKeyAndTempo" ? &o.chooseByKeyAndTempo
                                               : nullptr;
    if (flag) {
        if (const auto b = Switch(value)) *flag = *b;
    } else if (key == "targetLufs") {
        if (const auto d = Target(value)) o.targetLufs = *d;
    } else if (key == "outputDevice") {
        if (const auto name = DeviceName(value)) o.outputDevice = *name;
    }
}

}  // namespace

AutoMixOptions ParseAutoMixSettings(std::string_view content) {
    AutoMixOptions o;
    TextLines lines(content);
    while (const std::optional<std::string_view> next = lines.Next()) {
        const std::string_view line = *next;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        Apply(o, Trimmed(line.substr(0, eq)), Trimmed(line.substr(eq + 1)));
    }
    return o;
}

std::string FormatAutoMixSettings(const AutoMixOptions& o) {
    char target[32];
    const auto [end, ec] = std::to_chars(target, target + sizeof target, o.targetLufs);
    const std::string t = ec == std::errc() ? std::string(target, end) : "-16";
    const auto flag = [](bool b) { return b ? "1" : "0"; };
    return std::string("mixAtLastSound=") + flag(o.mixAtLastSound) + "\n" +
           "skipSilenceAtStart=" + flag(o.skipSilenceAtStart) + "\n" +
           "matchLoudness=" + flag(o.matchLoudness) + "\n" +
           "targetLufs=" + t + "\n" + "outputDevice=" + (DeviceName(o.outputDevice) ? o.outputDevice : "") + "\n" +
           "playlistFollowsPlay=" + flag(o.playlistFollowsPlay) + "\n" +
           "oneInstance=" + flag(o.oneInstance) + "\n" +
           "stayAwake=" + flag(o.stayAwake) + "\n" +
           "mixOnBeat=" + flag(o.mixOnBeat) + "\n" +
           "showArtistAndTitle=" + flag(o.showArtistAndTitle) + "\n" +
           "keepArtistsApart=" + flag(o.keepArtistsApart) + "\n" +
           "joinContinuousAlbums=" + flag(o.joinContinuousAlbums) + "\n" +
           "chooseByKeyAndTempo=" + flag(o.chooseByKeyAndTempo) + "\n";
}

AutoMixOptions LoadAutoMixSettings(const std::string& path) {
    std::string content;
    if (!ReadWholeFile(path, content, kMaxBytes)) return {};
    return ParseAutoMixSettings(content);
}

bool SaveAutoMixSettings(const std::string& path, const AutoMixOptions& options) {
    return WriteFileAtomically(path, FormatAutoMixSettings(options));
}

}  // namespace quendo
