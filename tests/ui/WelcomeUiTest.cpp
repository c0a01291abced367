#include <QApplication>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <gtest/gtest.h>

#include "settings/Welcom.h"

using namespace quendo;

namespace {

TEST(WelcomeUi, LayoutNotesBoxAndButtons) {
    Options options;
    options.CheckBox1 = true;
    int helps = 0;
    TWelcome welcome(options, [&] { ++helps; }, "1.10");

    EXPECT_EQ(welcome.windowTitle(), "Welcome to:");
    EXPECT_EQ(welcome.size(), QSize(300, 331));
    EXPECT_EQ(welcome.minimumSize(), welcome.maximumSize());
    EXPECT_EQ(welcome.Image1->geometry(), QRect(0, 0, 300, 51));
    EXPECT_EQ(welcome.Memo1->geometry(), QRect(0, 51, 300, 126));
    EXPECT_EQ(welcome.Memo2->geometry(), QRect(0, 178, 300, 121));
    EXPECT_EQ(welcome.CheckBox1->geometry(), QRect(8, 308, 145, 17));
    EXPECT_EQ(welcome.BitBtn2->geometry(), QRect(160, 304, 65, 25));
    EXPECT_EQ(welcome.BitBtn1->geometry(), QRect(232, 304, 65, 25));
    EXPECT_EQ(welcome.CheckBox1->text(), "Don't show me this again");

    const QString description = welcome.Memo1->toPlainText();
    EXPECT_TRUE(welcome.Memo1->isReadOnly());
    EXPECT_TRUE(description.contains("1.10"));
    EXPECT_TRUE(description.endsWith("\n\nThank you very much for using of our software.\n "));
    EXPECT_EQ(description.count("\n\n"), 2);

    EXPECT_FALSE(welcome.Memo2->isReadOnly());
    EXPECT_TRUE(welcome.Memo2->font().bold());
    EXPECT_EQ(welcome.Memo2->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(welcome.Memo2->palette().color(QPalette::Base), welcome.palette().color(QPalette::ToolTipBase));
    EXPECT_EQ(welcome.Memo2->toPlainText(),
              "\tNote 1:\n"
              " Access to the basic functions of the program you \n"
              " will receive through right-click on the playlist.\n"
              "\tNote 2:\n"
              " Choice of files from the popup menu:\n"
              " 1. By click on a folder, all her contents will be \n"
              "     added in playlist.\n"
              " 2. By click the right mouse button - menu will stay \n"
              "     open.");

    // The box follows the options when shown, and a click changes them at once.
    welcome.show();
    // Whatever the default font, each note stays one line and nothing is cut off.
    QTextDocument* notes = welcome.Memo2->document();
    for (QTextBlock b = notes->begin(); b.isValid(); b = b.next())
        EXPECT_EQ(b.layout()->lineCount(), 1) << b.text().toStdString();
    QTextCursor end(notes);
    end.movePosition(QTextCursor::End);
    EXPECT_LE(welcome.Memo2->cursorRect(end).bottom(), welcome.Memo2->viewport()->height());
    EXPECT_LE(welcome.CheckBox1->sizeHint().width(), welcome.CheckBox1->width());
    EXPECT_TRUE(welcome.CheckBox1->isChecked());
    QTest::mouseClick(welcome.CheckBox1, Qt::LeftButton, {}, QPoint(6, 8));
    EXPECT_FALSE(options.CheckBox1);
    welcome.hide();
    options.CheckBox1 = true;  // read back from the file meanwhile
    welcome.show();
    EXPECT_TRUE(welcome.CheckBox1->isChecked());

    welcome.BitBtn2->click();
    EXPECT_EQ(helps, 1);
    EXPECT_TRUE(welcome.isVisible());
    welcome.BitBtn1->click();
    EXPECT_FALSE(welcome.isVisible());

    welcome.show();
    welcome.close();  // the title bar's close box
    EXPECT_FALSE(welcome.isVisible());
    welcome.show();  // the form is kept and comes up again
    EXPECT_TRUE(welcome.isVisible());
    EXPECT_TRUE(options.CheckBox1);  // neither button touched the option
}

}  // namespace
