// "qnd.m3u" as any bytes, restored against a small library: every entry names a file of the
// table, the playlist's lists stay in step, and the restored list saved and restored again is
// the same list.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "app/Playlist.h"

using namespace quendo;

namespace {

// Measures by name: "silent" files have no length, others odd ones the restore must cope with.
class NameProbe : public MediaPlayer {
public:
    void SetFileName(const std::string& path) override { path_ = path; }
    double Duration() override {
        if (path_.find("silent") != std::string::npos) return 0;
        if (path_.find("nan") != std::string::npos) return std::numeric_limits<double>::quiet_NaN();
        if (path_.find("huge") != std::string::npos) return 1e30;
        if (path_.find("short") != std::string::npos) return 0.4;  // under a second: no length
        return 10.5 + static_cast<double>(path_.size());
    }
    double CurrentPosition() override { return 0; }
    void SetCurrentPosition(double) override {}
    void SetVolume(int) override {}
    void SetBalance(int) override {}
    int PlayState() override { return psStopped; }
    void Play() override {}
    void Pause() override {}

private:
    std::string path_;
};

// A restore never starts a track.
class NoDeck : public PlaylistDeck {
public:
    bool isMixing() const override { return false; }
    void StartHeadTrack() override {}
    void HeadChanged() override {}
};

NodeTable& Library() {
    static NodeTable* t = [] {
        auto* n = new NodeTable;
        n->MusicFolder = "/music/";
        const std::int32_t rock = n->AddFolderNode(0, "Rock");
        const std::int32_t live = n->AddFolderNode(rock, "Live");
        const std::int32_t lounge = n->AddFolderNode(0, "Lounge");
        const std::int32_t a = n->AddFolderNode(0, "a");
        n->AddFileNode(rock, "Highway.mp3");
        n->AddFileNode(live, "Encore.wav");
        n->AddFileNode(lounge, "Velvet Hour.mp3");
        n->AddFileNode(a, "b.mp3");
        n->AddFileNode(0, "a/b.mp3");  // the same full path as the one before
        n->AddFileNode(lounge, "silent.wma");
        n->AddFileNode(0, "Caf\xe9 \xff\xfe.mp3");
        n->AddFileNode(rock, "nan.mp3");
        n->AddFileNode(rock, "huge.mp3");
        n->AddFileNode(live, "short.wav");
        n->AddFileNode(lounge, "Highway.mp3");
        n->AddFileNode(0, " spaced .wav");
        return n;
    }();
    return *t;
}

void CheckInStep(const Playlist& p, const NodeTable& nodes, NameProbe& probe) {
    FUZZ_CHECK(p.ListBox1().size() == p.ListBox2().size());
    FUZZ_CHECK(static_cast<std::size_t>(p.Count()) == p.ListBox2().size());
    FUZZ_CHECK(p.FirstSelected() == -1);
    for (int i = 0; i < p.Count(); ++i) {
        const std::int32_t j = p.ListBox2()[static_cast<std::size_t>(i)];
        FUZZ_CHECK(nodes.IsFile(j));
        // A path names its first file, whatever others share it.
        FUZZ_CHECK(nodes.FindByFullPath(nodes.FullPath(j)) == j);
        probe.SetFileName(nodes.FullPath(j));
        const double d = probe.Duration();
        FUZZ_CHECK(d >= 1);
        FUZZ_CHECK(nodes.File(j).durationSeconds >= 1);
        FUZZ_CHECK(p.ListBox1()[static_cast<std::size_t>(i)] ==
                   TimeText(nodes.File(j).durationSeconds) + "  " + nodes.File(j).name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NodeTable& nodes = Library();
    NameProbe probe;
    MainDisplay display;
    NoDeck deck;
    Playlist once(nodes, probe, display, deck);
    once.RestorePlaylistFrom(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckInStep(once, nodes, probe);

    // What SavePlaylist writes of this list.
    std::string saved;
    for (std::int32_t j : once.ListBox2()) saved += nodes.FullPath(j) + "\r\n";
    Playlist twice(nodes, probe, display, deck);
    twice.RestorePlaylistFrom(saved);
    CheckInStep(twice, nodes, probe);
    FUZZ_CHECK(twice.ListBox2() == once.ListBox2());
    FUZZ_CHECK(twice.ListBox1() == once.ListBox1());
    return 0;
}
