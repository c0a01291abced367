#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "app/Core.h"
#include "library/SafeFile.h"

namespace quendo {

namespace {
// No real playlist comes near this; a bigger file is read only this far.
constexpr std::size_t kMaxPlaylistBytes = 32u << 20;
// Longer lines cannot be paths on this platform.
constexpr std::size_t kMaxPathLength = 4096;

std::int32_t WholeSeconds(double seconds) {
    if (!(seconds > 0)) return 0;  // also NaN
    if (seconds >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(seconds);
}
}  // namespace

std::string Core::TimeText(std::int32_t n) {
    const std::int32_t m = n / 60;
    const std::int32_t h = m / 60;
    const std::int32_t s = n - 60 * m;
    const std::int32_t mm = m - 60 * h;
    std::string seconds = s < 10 ? "0" + std::to_string(s) : std::to_string(s);
    std::string minutes = (mm < 10 && h != 0) ? "0" + std::to_string(mm) : std::to_string(mm);
    std::string hours = h != 0 ? std::to_string(h) + ":" : std::string();
    return hours + minutes + ":" + seconds;
}

void Core::AddToPlaylist(std::int32_t k) {
    if (!nodes.IsFile(k)) return;
    platform.probe.SetFileName(nodes.FullPath(k));
    const std::int32_t d = WholeSeconds(platform.probe.Duration());
    if (d == 0) return;

    LibraryNode& node = nodes.File(k);
    node.durationSeconds = d;
    const bool wasEmpty = playlist.Empty();
    int p = playlist.FirstSelected();
    if (p < 0) {
        playlist.Append(TimeText(d) + "  " + node.name, k);
        ShowPlaylistTotal();
        if (wasEmpty && takenOffNodeId == -1) StartHeadTrack();
        return;
    }
    // During a mix the head entry is the track being mixed in: keep it at the head.
    if (isMixing && p == 0) p = 1;
    playlist.Insert(p, TimeText(d) + "= " + node.name, k);
}

void Core::DeleteSelectedEntries() {
    for (int i = playlist.Count() - 1; i >= 0; --i)
        if (playlist.selected[static_cast<std::size_t>(i)]) playlist.Erase(i);
    ShowPlaylistTotal();
}

void Core::ClearPlaylist() { playlist.Clear(); }

void Core::ShowPlaylistTotal() {
    std::int64_t total = 0;
    for (std::int32_t file : playlist.ListBox2)
        if (nodes.IsFile(file)) total += nodes.File(file).durationSeconds;
    display.StaticText1 = TimeText(static_cast<std::int32_t>(
        std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max())));
}

void Core::RestorePlaylist() {
    std::string content;
    if (!ReadWholeFile(PlaylistFilePath(), content, kMaxPlaylistBytes)) return;

    // A file named on many lines is measured once.
    std::unordered_map<std::int32_t, std::int32_t> measured;
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = content.size();
        const std::string_view line(content.data() + pos, end - pos);
        pos = end;
        if (pos < content.size()) {
            if (content[pos] == '\r' && pos + 1 < content.size() && content[pos + 1] == '\n') pos += 2;
            else pos += 1;
        }
        if (line.empty() || line.size() > kMaxPathLength) continue;

        const std::int32_t j = nodes.FindByFullPath(line);
        if (j < 0) continue;
        auto it = measured.find(j);
        std::int32_t d;
        if (it != measured.end()) {
            d = it->second;
        } else {
            platform.probe.SetFileName(nodes.FullPath(j));
            d = WholeSeconds(platform.probe.Duration());
            measured.emplace(j, d);
        }
        if (d == 0) continue;
        LibraryNode& node = nodes.File(j);
        node.durationSeconds = d;
        playlist.Append(TimeText(d) + "  " + node.name, j);
    }
}

bool Core::SavePlaylist() {
    std::string content;
    auto line = [&](std::int32_t file) {
        if (!nodes.IsFile(file)) return;
        content += nodes.FullPath(file);
        content += "\r\n";
    };
    if (takenOffNodeId != -1) line(takenOffNodeId);
    for (std::int32_t file : playlist.ListBox2) line(file);
    return WriteFileAtomically(PlaylistFilePath(), content);
}

}  // namespace quendo
