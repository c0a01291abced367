#include "library/SafeFile.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>

#include "library/Configuration.h"

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;
namespace fs = std::filesystem;

namespace {

mode_t Mode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

// The names in a folder: a save must leave no temporary file behind, even when it fails.
std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// Runs the save as an unprivileged user where the tests run as root (as CI does), since root
// may write any file and any folder. 1 when it reported success, 0 when it reported failure,
// -1 when no unprivileged user could be had.
int SaveAsUser(const std::string& path, const std::string& content) {
    if (::geteuid() != 0) return WriteFileAtomically(path, content) ? 1 : 0;
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const gid_t nogroup = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nogroup) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(WriteFileAtomically(path, content) ? 1 : 0);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
    return WEXITSTATUS(status);
}

class SafeFileTest : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        // Open to the unprivileged user of SaveAsUser.
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    }
    std::string Made(const std::string& name, const std::string& content, mode_t mode) {
        dir.WriteFile(name, content);
        EXPECT_EQ(::chmod((dir / name).c_str(), mode), 0);
        return dir / name;
    }
};

// The mode has no write bit: root is refused too, so this holds as root as well.
TEST_F(SafeFileTest, ReadOnlyFileIsLeftAsItIsAndTheWriteFails) {
    const std::string path = Made("qnd.cfg", "old", 0444);
    const ino_t before = Inode(path);
    EXPECT_FALSE(WriteFileAtomically(path, "new"));
    EXPECT_EQ(dir.ReadFile("qnd.cfg"), "old");
    EXPECT_EQ(Mode(path), 0444u);
    EXPECT_EQ(Inode(path), before);
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"qnd.cfg"});
}

// A file with a write bit, but not for this user (access() says no).
TEST_F(SafeFileTest, FileOfAnotherUserIsLeftAsItIs) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root, to make a file that this user may not write";
    const std::string path = Made("qnd.m3u", "old", 0644);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);  // the folder is writable: only the file says no
    const int saved = SaveAsUser(path, "new");
    if (saved < 0) GTEST_SKIP() << "no unprivileged user";
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(dir.ReadFile("qnd.m3u"), "old");
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"qnd.m3u"});
}

TEST_F(SafeFileTest, ReplacedFileKeepsItsMode) {
    const std::string path = Made("qnd.cfg", "old", 0600);
    ASSERT_TRUE(WriteFileAtomically(path, "new"));
    EXPECT_EQ(dir.ReadFile("qnd.cfg"), "new");
    EXPECT_EQ(Mode(path), 0600u);
    // Bits that the umask would take from a new file are kept too.
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    const mode_t mask = ::umask(077);
    EXPECT_TRUE(WriteFileAtomically(path, "newer"));
    ::umask(mask);
    EXPECT_EQ(Mode(path), 0666u);
    EXPECT_EQ(dir.ReadFile("qnd.cfg"), "newer");
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"qnd.cfg"});
}

TEST_F(SafeFileTest, FolderThatCannotBeWrittenFailsAndLeavesNoTemporaryFile) {
    fs::create_directory(dir / "locked");
    dir.WriteFile("locked/qnd.cfg", "old");
    ASSERT_EQ(::chmod((dir / "locked/qnd.cfg").c_str(), 0666), 0);
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
    // An existing file (which this user may write, but not replace) and a new one.
    for (const char* name : {"locked/qnd.cfg", "locked/qnd.m3u"}) {
        const int saved = SaveAsUser(dir / name, "new");
        if (saved < 0) GTEST_SKIP() << "no unprivileged user";
        EXPECT_EQ(saved, 0) << name;
    }
    EXPECT_EQ(dir.ReadFile("locked/qnd.cfg"), "old");
    EXPECT_EQ(Names(dir / "locked"), std::set<std::string>{"qnd.cfg"});
}

TEST_F(SafeFileTest, FailedRenameLeavesNoTemporaryFile) {
    EXPECT_FALSE(WriteFileAtomically(dir / "missing/qnd.cfg", "new"));
    fs::create_directory(dir / "qnd.cfg");  // a folder where the file should be
    EXPECT_FALSE(WriteFileAtomically(dir / "qnd.cfg", "new"));
    EXPECT_TRUE(fs::is_directory(dir / "qnd.cfg"));
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"qnd.cfg"});
}

TEST_F(SafeFileTest, SymbolicLinkIsFollowedAndKept) {
    fs::create_directory(dir / "real");
    const std::string target = Made("real/qnd.cfg", "old", 0640);
    fs::create_symlink("real/qnd.cfg", dir / "qnd.cfg");        // relative, to another folder
    fs::create_symlink(dir / "qnd.cfg", dir / "second.cfg");    // a chain, absolute
    ASSERT_TRUE(WriteFileAtomically(dir / "second.cfg", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "qnd.cfg"));
    EXPECT_TRUE(fs::is_symlink(dir / "second.cfg"));
    EXPECT_EQ(fs::read_symlink(dir / "qnd.cfg"), "real/qnd.cfg");
    EXPECT_EQ(dir.ReadFile("real/qnd.cfg"), "new");
    EXPECT_EQ(Mode(target), 0640u);
    EXPECT_EQ(Names(dir / "real"), std::set<std::string>{"qnd.cfg"});

    // A link to a read-only file leaves both as they are.
    ASSERT_EQ(::chmod(target.c_str(), 0440), 0);
    EXPECT_FALSE(WriteFileAtomically(dir / "qnd.cfg", "newer"));
    EXPECT_EQ(dir.ReadFile("real/qnd.cfg"), "new");
    EXPECT_TRUE(fs::is_symlink(dir / "qnd.cfg"));
}

TEST_F(SafeFileTest, DanglingLinkMakesItsTargetAndLoopFails) {
    fs::create_symlink("made.m3u", dir / "qnd.m3u");
    ASSERT_TRUE(WriteFileAtomically(dir / "qnd.m3u", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "qnd.m3u"));
    EXPECT_EQ(dir.ReadFile("made.m3u"), "new");

    fs::create_symlink("b.cfg", dir / "a.cfg");
    fs::create_symlink("a.cfg", dir / "b.cfg");
    EXPECT_FALSE(WriteFileAtomically(dir / "a.cfg", "new"));
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"a.cfg", "b.cfg", "made.m3u", "qnd.m3u"}));
}

// The configuration's save reports the refused write with "Error 0003", and the file stays as the
// user left it.
TEST(SafeFileCallers, ReadOnlyConfigurationIsReported) {
    FakeWorld w;
    Core& c = *w.core;
    TempDir dir;
    w.FirstRunIn(dir.path());
    dir.WriteFile("qnd.cfg", "mine");
    ASSERT_EQ(::chmod((dir / "qnd.cfg").c_str(), 0444), 0);
    EXPECT_FALSE(c.SaveConfiguration());
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0].text, "Error 0003");
    EXPECT_EQ(dir.ReadFile("qnd.cfg"), "mine");
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"qnd.cfg"});
}

// A save killed at any point leaves the old file or the new one whole, never a mix or a cut-off
// file; and the next save clears what the killed ones left.
TEST(CutOffSaves, KilledAtRandomPointsLeaveTheOldFileOrTheNewOneWhole) {
    FakeWorld w;
    Core& c = *w.core;
    TempDir dir;
    w.FirstRunIn(dir.path());
    for (int i = 0; i < 300; ++i) c.playlist.AddToPlaylist(w.AddFile("f/track " + std::to_string(i) + ".mp3", 60 + i));

    // Two versions of each file, saved once to learn their exact bytes.
    const std::string cfg = dir / "qnd.cfg", m3u = dir / "qnd.m3u";
    ConfigurationData a{c.nodes.MusicFolder, c.cocktails.Table(), c.options, c.buttons}, b = a;
    b.options.Edit1 = "/other music/";
    b.cocktails.SetFirstRunValues(3);
    ASSERT_TRUE(SaveConfiguration(cfg, b));
    const std::string cfgB = dir.ReadFile("qnd.cfg");
    ASSERT_TRUE(c.playlist.SavePlaylist());
    const std::string m3uB = dir.ReadFile("qnd.m3u");
    ASSERT_TRUE(SaveConfiguration(cfg, a));
    const std::string cfgA = dir.ReadFile("qnd.cfg");
    const std::int32_t head = c.playlist.Head();
    c.playlist.Erase(0);
    ASSERT_TRUE(c.playlist.SavePlaylist());
    const std::string m3uA = dir.ReadFile("qnd.m3u");
    ASSERT_NE(cfgA, cfgB);
    ASSERT_NE(m3uA, m3uB);

    std::mt19937 rng(2024);
    int killedEarly = 0;
    for (int round = 0; round < 300; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (bool first = true;; first = !first) {
                SaveConfiguration(cfg, first ? b : a);
                // The playlist's two versions differ by the head entry.
                if (first) c.playlist.Insert(0, "x", head);
                else c.playlist.Erase(0);
                c.playlist.SavePlaylist();
            }
        }
        ::usleep(std::uniform_int_distribution<unsigned>(0, 4000)(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (!WIFSIGNALED(status)) ++killedEarly;
        const std::string nowCfg = dir.ReadFile("qnd.cfg"), nowM3u = dir.ReadFile("qnd.m3u");
        ASSERT_TRUE(nowCfg == cfgA || nowCfg == cfgB) << "round " << round << ": " << nowCfg.size() << " bytes";
        ASSERT_TRUE(nowM3u == m3uA || nowM3u == m3uB) << "round " << round << ": " << nowM3u.size() << " bytes";
    }
    EXPECT_EQ(killedEarly, 0);
    EXPECT_TRUE(LoadConfiguration(cfg, a, 7).has_value());

    ASSERT_TRUE(SaveConfiguration(cfg, a));
    ASSERT_TRUE(c.playlist.SavePlaylist());
    EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"qnd.cfg", "qnd.m3u"}));
}

// Runs body in a child process and returns its exit code, or -1 when it did not exit.
template <class Body>
int InChild(Body body) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) ::_exit(body());
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// On a full disk, both files keep their old content, the user is told of each, and no temporary
// file is left. The disk is a small tmpfs in a mount namespace of its own where that may be
// made, and a file size limit otherwise (the same failing write, as EFBIG).
TEST(CutOffSaves, FullDiskKeepsTheOldFilesAndSaysSo) {
    for (const bool tmpfs : {true, false}) {
        TempDir dir;
        const int result = InChild([&] {
            if (tmpfs) {
                if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                    ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0)
                    return 77;
            }
            FakeWorld w;
            Core& c = *w.core;
            w.FirstRunIn(dir.path());
            for (int i = 0; i < 2000; ++i) c.playlist.AddToPlaylist(w.AddFile("f/a long name for track " + std::to_string(i) + ".mp3", 60));
            dir.WriteFile("qnd.cfg", "old settings");
            dir.WriteFile("qnd.m3u", "old playlist");
            if (tmpfs) {
                std::ofstream filler(dir / "filler", std::ios::binary);
                const std::string block(4096, 'x');
                while (filler.write(block.data(), block.size())) filler.flush();
            } else {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{64, 64};
                if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 3;
            }
            c.SaveSession();
            if (dir.ReadFile("qnd.cfg") != "old settings" || dir.ReadFile("qnd.m3u") != "old playlist") return 4;
            if (w.dialogs.shown.size() != 2 || w.dialogs.shown[1].text != "Error 0003" ||
                w.dialogs.shown[0].text != "The playlist file \"qnd.m3u\" could not be written.")
                return 5;
            std::set<std::string> names = Names(dir.path());
            names.erase("filler");
            return names == std::set<std::string>{"qnd.cfg", "qnd.m3u"} ? 0 : 6;
        });
        if (result == 77) continue;  // no tmpfs here: the size limit still runs
        EXPECT_EQ(result, 0) << (tmpfs ? "tmpfs" : "size limit") << ": 4 old content lost, 5 messages, 6 files left";
    }
}

}  // namespace
