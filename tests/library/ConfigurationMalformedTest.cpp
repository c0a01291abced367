#include <gtest/gtest.h>

#include <algorithm>

#include "support/Fakes.h"

using namespace quendo;
using namespace quendo::testing;

namespace {

// Line numbers (from 1) of some fields of the file.
constexpr int kRepeatLimitLine = 2;
constexpr int kCurrentCocktailLine = 3;
constexpr int kFirstPartsLine = 7;
constexpr int kRadioGroup1Line = 171;
constexpr int kRadioGroup2Line = 172;
constexpr int kRepeatLine = 173;
constexpr int kCheckBox1Line = 178;

class MalformedConfiguration : public ::testing::Test {
protected:
    TempDir dir;
    std::vector<std::string> lines;  // a valid file, without line ends

    void SetUp() override {
        FakeWorld w;
        w.core->nodes.ProgramFolder = dir.path();
        w.core->nodes.MusicFolder = "/music/";
        w.core->SetFirstRunValues(40);
        w.core->buttons.Repeat = true;
        w.core->options.CheckBox1 = true;
        ASSERT_TRUE(w.core->SaveConfiguration());
        const std::string file = dir.ReadFile("qnd.cfg");
        std::size_t start = 0;
        for (std::size_t end; (end = file.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(file.substr(start, end - start));
        ASSERT_EQ(lines.size(), 178u);
    }
    // Writes the lines joined by `eol` and loads them into a fresh core.
    std::unique_ptr<FakeWorld> Load(const std::vector<std::string>& ls, const std::string& eol = "\r\n") {
        std::string text;
        for (const std::string& l : ls) text += l + eol;
        dir.WriteFile("qnd.cfg", text);
        auto w = std::make_unique<FakeWorld>();
        w->core->nodes.ProgramFolder = dir.path();
        EXPECT_TRUE(w->core->LoadConfiguration());
        return w;
    }
    std::vector<std::string> With(int line, const std::string& value) {
        std::vector<std::string> ls = lines;
        ls[static_cast<std::size_t>(line - 1)] = value;
        return ls;
    }
};

TEST_F(MalformedConfiguration, OutOfRangeValuesAreBroughtIntoRange) {
    EXPECT_EQ(Load(With(kRepeatLimitLine, "300"))->core->cocktails.Table().RepeatLimit, 255);
    EXPECT_EQ(Load(With(kRepeatLimitLine, "-2"))->core->cocktails.Table().RepeatLimit, 0);
    EXPECT_EQ(Load(With(kCurrentCocktailLine, "16"))->core->cocktails.Table().CurrentCocktail, 15);
    EXPECT_EQ(Load(With(kCurrentCocktailLine, "-1"))->core->cocktails.Table().CurrentCocktail, 0);
    EXPECT_EQ(Load(With(kFirstPartsLine, "11"))->core->cocktails.Table()[0].ingredients[0].parts, 10);
    // A choice outside its list takes the first-run item, never "Shut down the computer".
    EXPECT_EQ(Load(With(kRadioGroup2Line, "4"))->core->options.RadioGroup2, epLoadCocktail);
    EXPECT_EQ(Load(With(kRadioGroup1Line, "3"))->core->options.RadioGroup1, suContinueSession);
}

TEST_F(MalformedConfiguration, AnUnreadableFieldKeepsItsFirstRunValueAndTheRestTheirPlace) {
    const std::vector<std::string> junks{"", "abc", "1e3", "0x10", "99999999999999999999", " ", "7 8",
                                         std::string(5000, '9')};
    for (const std::string& junk : junks) {
        auto w = Load(With(kRadioGroup2Line, junk));
        EXPECT_EQ(w->core->options.RadioGroup2, epLoadCocktail) << junk;
        EXPECT_TRUE(w->core->buttons.Repeat) << junk;  // the next line is read where it belongs
        EXPECT_TRUE(w->core->options.CheckBox1) << junk;
    }
    // Blanks around a number are tolerated.
    EXPECT_EQ(Load(With(kRadioGroup2Line, " 1 "))->core->options.RadioGroup2, epWait);
}

TEST_F(MalformedConfiguration, LoneCrAndBareLfRead) {
    for (const char* eol : {"\n", "\r"}) {
        auto w = Load(lines, eol);
        EXPECT_EQ(w->core->nodes.MusicFolder, "/music/");
        EXPECT_TRUE(w->core->buttons.Repeat);
        EXPECT_TRUE(w->core->options.CheckBox1);
    }
}

TEST_F(MalformedConfiguration, NameWithLineEndsIsSavedOnOneLine) {
    FakeWorld w;
    w.core->nodes.ProgramFolder = dir.path();
    w.core->SetFirstRunValues(40);
    w.core->cocktails.Table()[0].name = "Two\r\nlines";
    w.core->options.CheckBox1 = true;
    ASSERT_TRUE(w.core->SaveConfiguration());
    const std::string file = dir.ReadFile("qnd.cfg");
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 178);
    FakeWorld back;
    back.core->nodes.ProgramFolder = dir.path();
    ASSERT_TRUE(back.core->LoadConfiguration());
    EXPECT_EQ(back.core->cocktails.Table()[0].name, "Two  lines");
    EXPECT_TRUE(back.core->options.CheckBox1);
}

TEST_F(MalformedConfiguration, EveryTruncationEndsSane) {
    std::string file;
    for (const std::string& l : lines) file += l + "\r\n";
    FakeWorld w;
    Core& c = *w.core;
    c.nodes.ProgramFolder = dir.path();
    for (std::size_t n = 0; n <= file.size(); ++n) {
        dir.WriteFile("qnd.cfg", file.substr(0, n));
        ASSERT_TRUE(c.LoadConfiguration());
        ASSERT_LE(c.cocktails.Table().RepeatLimit, 255);
        ASSERT_GE(c.cocktails.Table().CurrentCocktail, 0);
        ASSERT_LE(c.cocktails.Table().CurrentCocktail, 15);
        ASSERT_GE(c.options.RadioGroup2, epLoadCocktail);
        ASSERT_LE(c.options.RadioGroup2, epShutDown);
        for (const Cocktail& k : c.cocktails.Table().cocktails)
            for (const Ingredient& in : k.ingredients) ASSERT_LE(in.parts, 10);
    }
}

TEST_F(MalformedConfiguration, BinaryJunkReadsWithoutHarm) {
    std::string junk;
    for (int i = 0; i < 20000; ++i) junk += static_cast<char>((i * 131 + 7) % 256);
    dir.WriteFile("qnd.cfg", junk);
    FakeWorld w;
    w.core->nodes.ProgramFolder = dir.path();
    EXPECT_TRUE(w.core->LoadConfiguration());
    EXPECT_GE(w.core->cocktails.Table().CurrentCocktail, 0);
    EXPECT_LE(w.core->cocktails.Table().CurrentCocktail, 15);
    EXPECT_LE(w.core->cocktails.Table().RepeatLimit, 255);
    EXPECT_GE(w.core->options.RadioGroup1, suClearPlaylist);
    EXPECT_LE(w.core->options.RadioGroup1, suLoadCocktail);
}

}  // namespace
