#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/Display.h"
#include "model/NodeTable.h"
#include "model/TimeText.h"
#include "model/MediaPlayer.h"
#include "cocktail/CocktailPlaylist.h"
#include "playback/TrackQueue.h"

namespace quendo {

// What the playlist needs of the deck engine: whether the head entry is being mixed in, the
// start of the head track when an add fills an empty playlist, and word that the head or the
// entry after it may be another file now.
class PlaylistDeck {
public:
    virtual bool isMixing() const = 0;
    virtual void StartHeadTrack() = 0;
    virtual void HeadChanged() = 0;

protected:
    ~PlaylistDeck() = default;
};

// The playlist: display texts and file indices as two parallel lists, and ListBox1's selection,
// kept in step by these operations alone.
class Playlist final : public TrackQueue, public CocktailPlaylist {
public:
    Playlist(NodeTable& nodes, MediaPlayer& probe, MainDisplay& display, PlaylistDeck& deck);

    const std::vector<std::string>& ListBox1() const { return texts_; }
    const std::vector<std::int32_t>& ListBox2() const { return files_; }
    int Count() const override { return static_cast<int>(files_.size()); }
    bool Empty() const override { return files_.empty(); }
    std::int32_t Head() const override { return files_.empty() ? -1 : files_.front(); }
    std::int32_t At(int index) const override {
        return index >= 0 && index < Count() ? files_[static_cast<std::size_t>(index)] : -1;
    }

    bool Selected(int i) const { return i >= 0 && i < Count() && selected_[static_cast<std::size_t>(i)]; }
    int FirstSelected() const;  // -1 when nothing is selected
    void SetSelected(int i, bool on);

    // The track that left the list when it started and still plays; written first to the file.
    std::int32_t takenOffNodeId() const override { return takenOff_; }
    void SetTakenOff(std::int32_t file) override {
        if (file != takenOff_) ++generation_;
        takenOff_ = file;
    }

    void AddToPlaylist(std::int32_t k) override { Add(k); }
    // The same; false when the file measures nothing and is left out.
    bool Add(std::int32_t k);
    std::vector<std::int32_t> FilesBeforeNextAdd(int n) const override;
    void DeleteSelectedEntries();
    void ClearPlaylist() { Clear(); }
    void ShowPlaylistTotal();
    void RestorePlaylist();
    void RestorePlaylistFrom(std::string_view content);  // the file's bytes
    bool SavePlaylist();  // false when the file could not be written; the old file then stays
    std::string PlaylistFileContent() const;  // what SavePlaylist writes
    // Counts the changes of what the file holds (entries and the track taken off), so that a
    // change is seen however it was made.
    std::uint64_t Generation() const { return generation_; }
    std::string PlaylistFilePath() const;

    // The deck engine's moves of the head.
    void TakeOffHead() override;  // leaves, and is remembered as the track taken off
    void MoveHeadToEnd() override;

    // An entry as it is listed; no check against the table.
    void Insert(int pos, std::string text, std::int32_t file);
    void Append(std::string text, std::int32_t file) { Insert(Count(), std::move(text), file); }
    void Erase(int pos);
    void Clear();

private:
    // Where AddToPlaylist puts the next file: at the first selected entry, else at the end.
    int NextAddPosition() const;

    NodeTable& nodes_;
    MediaPlayer& probe_;
    MainDisplay& display_;
    PlaylistDeck& deck_;
    std::vector<std::string> texts_;
    std::vector<std::int32_t> files_;
    std::vector<char> selected_;
    std::int32_t takenOff_ = -1;
    std::uint64_t generation_ = 0;
};

}  // namespace quendo
