#include <map>
#include <QApplication>
#include <gtest/gtest.h>

#include "app/Application.h"
#include "support/Fakes.h"

using namespace quendo;

namespace {

TEST(FormSet, CreatedInOrderWithCaptions) {
    Application app;
    std::vector<std::string> names, titles;
    for (QWidget* w : app.Forms()) {
        names.push_back(w->objectName().toStdString());
        titles.push_back(w->windowTitle().toStdString());
    }
    const std::vector<std::string> expected{"Form1", "Splash", "Settings", "MixEditor",
                                            "Browse", "frmNameMusCoc", "Welcome"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(titles.front(), "Quendo");
    const std::map<std::string, std::string> captions{{"Settings", "Settings"}, {"MixEditor", "MixEditor"},
                                                     {"Welcome", "Welcome to:"}, {"frmNameMusCoc", "Rename"},
                                                     {"Browse", "Select a directory with your musical files..."}};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto it = captions.find(names[i]);
        if (it != captions.end()) {
            EXPECT_EQ(titles[i], it->second) << names[i];
        }
    }
}

TEST(MainWindow, EveryControlAtItsPlace) {
    Application app;
    TForm1& f = app.Form1();
    EXPECT_EQ(f.size(), QSize(272, 282));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());  // not resizable

    struct Place {
        QWidget* w;
        QRect r;
    };
    const Place places[] = {
        {f.StaticText1, {0, -4, 104, 23}}, {f.StaticText2, {168, -4, 52, 23}},
        {f.StaticText3, {220, -4, 52, 23}}, {f.UP, {104, 0, 32, 33}},
        {f.Play, {136, 0, 32, 33}},        {f.Shuffle, {0, 19, 52, 14}},
        {f.Repeat, {52, 19, 52, 14}},      {f.Mix_OFF, {168, 19, 52, 14}},
        {f.Next, {220, 19, 52, 14}},       {f.CGauge1, {0, 33, 273, 16}},
        {f.Label1, {0, 34, 273, 14}},      {f.ListBox1, {0, 48, 273, 201}},
        {f.ComboBox1, {88, 249, 185, 21}}, {f.Label3, {0, 270, 57, 13}},
        {f.Label6, {92, 270, 89, 13}},     {f.Label7, {180, 270, 93, 13}},
    };
    for (const Place& p : places) EXPECT_EQ(p.w->geometry(), p.r) << p.w->objectName().toStdString();
    EXPECT_EQ(f.Label10->pos(), QPoint(4, 253));
    EXPECT_EQ(f.Label10->text(), "Musical cocktail:");
    EXPECT_EQ(f.Label3->text(), "Available:");

    // First looks: displays read ":", UP up and Play down, Shuffle disabled, timers off.
    EXPECT_EQ(f.StaticText1->text(), ":");
    EXPECT_EQ(f.StaticText3->text(), ":");
    EXPECT_FALSE(f.UP->isChecked());
    EXPECT_TRUE(f.Play->isChecked());
    EXPECT_FALSE(f.Shuffle->isEnabled());
    EXPECT_TRUE(f.Next->isEnabled());
    EXPECT_FALSE(f.Next->isCheckable());
    EXPECT_TRUE(f.Repeat->isCheckable());
    EXPECT_EQ(f.ListBox1->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_EQ(f.Timer1->interval(), 100);
    EXPECT_EQ(f.Timer2->interval(), 200);
    // The title strip lies over the gauge.
    EXPECT_GT(f.children().indexOf(f.Label1), f.children().indexOf(f.CGauge1));
}

TEST(MainWindow, RendersCoreStateAndForwardsToggles) {
    Application app;
    TForm1& f = app.Form1();
    Core& c = app.core();
    c.display.StaticText2 = "3:20";
    c.display.ShuffleEnabled = true;
    c.buttons.Repeat = true;
    c.playlist.Append("1:00  a.mp3", 0);
    c.playlist.Append("2:00  b.mp3", 1);
    c.playlist.SetSelected(1, 1);
    f.Render();
    EXPECT_EQ(f.StaticText2->text(), "3:20");
    EXPECT_TRUE(f.Shuffle->isEnabled());
    EXPECT_TRUE(f.Repeat->isChecked());
    ASSERT_EQ(f.ListBox1->count(), 2);
    EXPECT_TRUE(f.ListBox1->item(1)->isSelected());

    f.ListBox1->item(0)->setSelected(true);
    EXPECT_EQ(c.playlist.Selected(0), 1);
    f.UP->click();
    EXPECT_TRUE(c.buttons.UP);
}

}  // namespace
