#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "app/Playlist.h"
#include "model/ProgramFiles.h"
#include "library/SafeFile.h"
#include "library/TextLines.h"

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

Playlist::Playlist(NodeTable& nodes, MediaPlayer& probe, MainDisplay& display, PlaylistDeck& deck)
    : nodes_(nodes), probe_(probe), display_(display), deck_(deck) {}

int Playlist::FirstSelected() const {
    for (std::size_t i = 0; i < selected_.size(); ++i)
        if (selected_[i]) return static_cast<int>(i);
    return -1;
}

void Playlist::SetSelected(int i, bool on) {
    if (i >= 0 && i < Count()) selected_[static_cast<std::size_t>(i)] = on ? 1 : 0;
}

void Playlist::Insert(int pos, std::string text, std::int32_t file) {
    pos = std::clamp(pos, 0, Count());
    texts_.insert(texts_.begin() + pos, std::move(text));
    files_.insert(files_.begin() + pos, file);
    selected_.insert(selected_.begin() + pos, 0);
    ++generation_;
    if (pos <= 1) deck_.HeadChanged();
}

void Playlist::Erase(int pos) {
    if (pos < 0 || pos >= Count()) return;
    texts_.erase(texts_.begin() + pos);
    files_.erase(files_.begin() + pos);
    selected_.erase(selected_.begin() + pos);
    ++generation_;
    if (pos <= 1) deck_.HeadChanged();
}

void Playlist::MoveHeadToEnd() {
    if (Empty()) return;
    // Append a copy, then delete the head: the copy is not selected, as a fresh list item.
    Append(texts_.front(), files_.front());
    Erase(0);
}

void Playlist::TakeOffHead() {
    if (Empty()) return;
    SetTakenOff(files_.front());
    Erase(0);
    ShowPlaylistTotal();
}

void Playlist::Clear() {
    if (!files_.empty()) ++generation_;
    texts_.clear();
    files_.clear();
    selected_.clear();
}

std::string Playlist::PlaylistFilePath() const { return BesideExecutable(nodes_.ProgramFolder, kPlaylistFileName); }

bool Playlist::Add(std::int32_t k) {
    if (!nodes_.IsFile(k)) return false;
    probe_.SetFileName(nodes_.FullPath(k));
    const std::int32_t d = WholeSeconds(probe_.Duration());
    if (d == 0) return false;

    LibraryNode& node = nodes_.File(k);
    node.durationSeconds = d;
    const bool wasEmpty = Empty();
    if (FirstSelected() < 0) {
        Append(TimeText(d) + "  " + node.name, k);
        ShowPlaylistTotal();
        if (wasEmpty && takenOff_ == -1) deck_.StartHeadTrack();
        return true;
    }
    Insert(NextAddPosition(), TimeText(d) + "= " + node.name, k);
    return true;
}

int Playlist::NextAddPosition() const {
    const int p = FirstSelected();
    if (p < 0) return Count();
    // During a mix the head entry is the track being mixed in: keep it at the head.
    return p == 0 && deck_.isMixing() ? 1 : p;
}

std::vector<std::int32_t> Playlist::FilesBeforeNextAdd(int n) const {
    std::vector<std::int32_t> files;
    for (int i = NextAddPosition() - 1; i >= 0 && static_cast<int>(files.size()) < n; --i)
        files.push_back(files_[static_cast<std::size_t>(i)]);
    if (takenOff_ != -1 && static_cast<int>(files.size()) < n) files.push_back(takenOff_);
    return files;
}

void Playlist::DeleteSelectedEntries() {
    for (int i = Count() - 1; i >= 0; --i)
        if (selected_[static_cast<std::size_t>(i)]) Erase(i);
    ShowPlaylistTotal();
}

void Playlist::ShowPlaylistTotal() {
    std::int64_t total = 0;
    for (std::int32_t file : files_)
        if (nodes_.IsFile(file)) total += nodes_.File(file).durationSeconds;
    display_.StaticText1 = TimeText(static_cast<std::int32_t>(
        std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max())));
}

void Playlist::RestorePlaylist() {
    std::string content;
    if (!ReadWholeFile(PlaylistFilePath(), content, kMaxPlaylistBytes)) return;
    RestorePlaylistFrom(content);
}

void Playlist::RestorePlaylistFrom(std::string_view content) {
    // A file named on many lines is measured once.
    std::unordered_map<std::int32_t, std::int32_t> measured;
    TextLines lines(content);
    while (const std::optional<std::string_view> next = lines.Next()) {
        const std::string_view line = *next;
        if (line.empty() || line.size() > kMaxPathLength) continue;

        const std::int32_t j = nodes_.FindByFullPath(line);
        if (j < 0) continue;
        auto it = measured.find(j);
        std::int32_t d;
        if (it != measured.end()) {
            d = it->second;
        } else {
            probe_.SetFileName(nodes_.FullPath(j));
            d = WholeSeconds(probe_.Duration());
            measured.emplace(j, d);
        }
        if (d == 0) continue;
        LibraryNode& node = nodes_.File(j);
        node.durationSeconds = d;
        Append(TimeText(d) + "  " + node.name, j);
    }
}

std::string Playlist::PlaylistFileContent() const {
    std::string content;
    auto line = [&](std::int32_t file) {
        if (!nodes_.IsFile(file)) return;
        content += nodes_.FullPath(file);
        content += "\r\n";
    };
    if (takenOff_ != -1) line(takenOff_);
    for (std::int32_t file : files_) line(file);
    return content;
}

bool Playlist::SavePlaylist() { return WriteFileAtomically(PlaylistFilePath(), PlaylistFileContent()); }

}  // namespace quendo
