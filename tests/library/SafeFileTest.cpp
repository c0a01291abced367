#include "library/SafeFile.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

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
    c.nodes.ProgramFolder = dir.path();
    c.nodes.MusicFolder = "/music/";
    c.SetFirstRunValues(7);
    dir.WriteFile("qnd.cfg", "mine");
    ASSERT_EQ(::chmod((dir / "qnd.cfg").c_str(), 0444), 0);
    EXPECT_FALSE(c.SaveConfiguration());
    ASSERT_EQ(w.dialogs.shown.size(), 1u);
    EXPECT_EQ(w.dialogs.shown[0].text, "Error 0003");
    EXPECT_EQ(dir.ReadFile("qnd.cfg"), "mine");
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"qnd.cfg"});
}

}  // namespace
