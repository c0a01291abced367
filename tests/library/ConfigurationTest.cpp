#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library/Configuration.h"
#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

class ConfigurationTest : public ::testing::Test {
protected:
    FakeWorld w;
    Core& c = *w.core;
    TempDir dir;
    void SetUp() override { w.FirstRunIn(dir.path()); }
    std::string Saved() {
        EXPECT_TRUE(c.SaveConfiguration());
        return dir.ReadFile("qnd.cfg");
    }
};

TEST_F(ConfigurationTest, FirstRunFileLayout) {
    const std::string file = Saved();
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 178);
    EXPECT_EQ(std::count(file.begin(), file.end(), '\r'), 178);
    EXPECT_NE(file.find(std::string("\r\n\0\r\n", 5)), std::string::npos);  // the reserved byte
    EXPECT_EQ(file.rfind("/music/\r\n3\r\n0\r\nMusicalCocktail1\r\n0\r\n1\r\n1\r\n", 0), 0u);
    // The third cocktail's folders 7, 8, 9 are held at the 7 folders of the tree.
    EXPECT_NE(file.find("MusicalCocktail3\r\n0\r\n7\r\n1\r\n0\r\n7\r\n1\r\n0\r\n7\r\n1\r\n"), std::string::npos);
}

// Every field on its own line, in its place: each holds a value its neighbours do not (the yes/no
// lines alternate), so two lines written in each other's place show.
TEST_F(ConfigurationTest, EveryFieldOnItsLine) {
    c.nodes.MusicFolder = "/songs/";
    CocktailTable& t = c.cocktails.Table();
    t.RepeatLimit = 77;
    t.CurrentCocktail = 13;
    std::vector<std::string> expected = {"/songs/", "77", "13"};
    for (int i = 0; i < CocktailTable::kCount; ++i) {
        t[i].name = "Mix " + std::to_string(i);
        expected.push_back(t[i].name);
        for (int k = 0; k < 3; ++k) {
            Ingredient& in = t[i].ingredients[static_cast<std::size_t>(k)];
            in.sourceKind = (i + k) % 6;
            in.folder = 1000 + 3 * i + k;
            in.parts = 6 + (i + k) % 5;
            for (int v : {in.sourceKind, in.folder, in.parts}) expected.push_back(std::to_string(v));
        }
    }
    Options& o = c.options;
    o.chkShowSplash = true;
    o.chkShowAnimat = false;
    o.chkMusicFileTimeRem = true;
    o.chkAutoMixTimeRem = false;
    o.chkAlwaysOnTop = true;
    o.reservedByte = 'R';
    o.chkAutoStartOfPlaying = false;
    o.RadioGroup1 = suLoadCocktail;
    o.RadioGroup2 = epShutDown;
    c.buttons.Repeat = true;
    c.buttons.Shuffle = false;
    c.buttons.Mix_OFF = true;
    c.buttons.UP = false;
    c.buttons.Play = true;
    o.CheckBox1 = false;
    for (const char* line : {"1", "0", "1", "0", "1", "R", "0", "2", "3", "1", "0", "1", "0", "1", "0"})
        expected.push_back(line);
    ASSERT_EQ(expected.size(), 178u);

    const std::string file = Saved();
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = file.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(file.substr(at, end - at));
    EXPECT_EQ(lines, expected);
    std::string whole;
    for (const std::string& line : expected) whole += line + "\r\n";
    EXPECT_EQ(file, whole);

    // Read back, every field comes out as it went in.
    EXPECT_EQ(FormatConfiguration(ParseConfiguration(file, ConfigurationData{}, 2000)), file);
}

TEST_F(ConfigurationTest, RoundTripKeepsEmptyNamesAndButtons) {
    c.cocktails.Table()[1].name = "";
    c.cocktails.Table()[2].ingredients[1].parts = 5;
    c.cocktails.Table().CurrentCocktail = 2;
    c.buttons.Repeat = true;
    c.options.RadioGroup2 = epWait;
    c.options.CheckBox1 = true;
    const std::string file = Saved();

    FakeWorld w2;
    Core& d = *w2.core;
    d.nodes.ProgramFolder = dir.path();
    ASSERT_TRUE(d.LoadConfiguration());
    EXPECT_EQ(d.nodes.MusicFolder, "/music/");
    EXPECT_EQ(d.cocktails.Table()[1].name, "");
    EXPECT_EQ(d.cocktails.Table()[2].name, "MusicalCocktail3");
    EXPECT_EQ(d.cocktails.Table()[2].ingredients[1].parts, 5);
    EXPECT_EQ(d.cocktails.Table().CurrentCocktail, 2);
    EXPECT_TRUE(d.buttons.Repeat);
    EXPECT_EQ(d.options.RadioGroup2, epWait);
    EXPECT_TRUE(d.options.CheckBox1);

    // The same file with bare LF reads the same.
    std::string lf;
    for (char ch : file)
        if (ch != '\r') lf += ch;
    dir.WriteFile("qnd.cfg", lf);
    FakeWorld w3;
    w3.core->nodes.ProgramFolder = dir.path();
    ASSERT_TRUE(w3.core->LoadConfiguration());
    EXPECT_EQ(w3.core->cocktails.Table()[2].ingredients[1].parts, 5);
    EXPECT_EQ(w3.core->options.RadioGroup2, epWait);
}

TEST_F(ConfigurationTest, EveryTruncationAndJunkGivesSaneValues) {
    const std::string file = Saved();
    for (std::size_t n = 0; n <= file.size(); n += 3) {
        dir.WriteFile("qnd.cfg", file.substr(0, n));
        FakeWorld wt;
        Core& t = *wt.core;
        t.nodes.ProgramFolder = dir.path();
        t.LoadConfiguration();
        ASSERT_GE(t.cocktails.Table().CurrentCocktail, 0);
        ASSERT_LE(t.cocktails.Table().CurrentCocktail, 15);
        ASSERT_GE(t.cocktails.Table().RepeatLimit, 0);
        ASSERT_LE(t.cocktails.Table().RepeatLimit, 255);
        ASSERT_GE(t.options.RadioGroup1, 0);
        ASSERT_LE(t.options.RadioGroup1, 2);
    }
    dir.WriteFile("qnd.cfg", "/m/\n99999\n-4\n" + std::string(100000, 'n') + "\n-7\n1\n400\n");
    FakeWorld wj;
    wj.core->nodes.ProgramFolder = dir.path();
    wj.core->LoadConfiguration();
    EXPECT_LE(wj.core->cocktails.Table().RepeatLimit, 255);
    EXPECT_GE(wj.core->cocktails.Table().CurrentCocktail, 0);
    EXPECT_LE(wj.core->cocktails.Table()[0].ingredients[1].parts, 10);
}

TEST_F(ConfigurationTest, UnreadableAndUnwritableFilesAreReported) {
    c.nodes.ProgramFolder = dir / "missing";
    EXPECT_FALSE(c.LoadConfiguration());
    EXPECT_FALSE(c.SaveConfiguration());
    ASSERT_EQ(w.dialogs.shown.size(), 2u);
    EXPECT_EQ(w.dialogs.shown[0].text, "Error 0002");
    EXPECT_EQ(w.dialogs.shown[1].text, "Error 0003");
}

}  // namespace
