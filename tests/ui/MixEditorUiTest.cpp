#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "playback/Mixedit.h"

using namespace quendo;

namespace {

TEST(MixEditorForm, ShowsTheEnvelopeAndEditsItLive) {
    MixEnvelope env;
    EnvelopeEditor editor(env);
    TMixEditor form(editor);
    form.show();
    QApplication::processEvents();

    EXPECT_EQ(form.windowTitle(), "MixEditor");
    EXPECT_EQ(form.PageControl1->tabPosition(), QTabWidget::East);
    EXPECT_EQ(form.PageControl1->currentIndex(), 1);
    EXPECT_EQ(form.PageControl1->tabText(1), "Balance");
    EXPECT_FALSE(form.PageControl1->isTabVisible(2));
    EXPECT_FALSE(form.PageControl1->isTabEnabled(2));

    // Charts: key points only, the balance axis upside down, the cursor line in the middle.
    EXPECT_EQ(form.Series[1]->count(), 2);
    EXPECT_EQ(form.Series[5]->at(1), QPointF(60, -4000));
    EXPECT_EQ(form.Series[3]->count(), 0);
    EXPECT_TRUE(form.AxisY[2]->isReverse());
    EXPECT_FALSE(form.AxisY[1]->isReverse());
    EXPECT_LE(form.AxisY[1]->min(), -10000);
    EXPECT_GE(form.AxisY[1]->max(), 0);
    EXPECT_GT(form.AxisY[1]->min(), -10500);  // room for the marks, no more
    EXPECT_LT(form.AxisY[1]->max(), 500);
    EXPECT_EQ(form.AxisX[2]->max(), 60);
    EXPECT_EQ(form.CursorLine[2]->at(0).x(), 30);
    EXPECT_FALSE(form.Series[5]->lightMarker().isNull());

    EXPECT_EQ(form.Label[4]->text(), "30");
    EXPECT_EQ(form.Label[2]->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_TRUE(form.Label[2]->font().bold());
    for (int n : {1, 2, 5, 6}) {
        EXPECT_FALSE(form.ScrollBar[n]->isEnabled()) << n;
        EXPECT_EQ(form.SpeedButton[n]->text(), "In") << n;
    }
    EXPECT_FALSE(form.ScrollBar[7]->isVisible());

    // The cursor onto the outgoing curves' final key.
    form.ScrollBar[13]->setValue(60);
    EXPECT_EQ(form.SpeedButton[5]->text(), "De");
    EXPECT_TRUE(form.SpeedButton[5]->isChecked());
    EXPECT_TRUE(form.ScrollBar[5]->isEnabled());
    EXPECT_EQ(form.ScrollBar[5]->value(), -4000);
    EXPECT_EQ(form.CursorLine[1]->at(1).x(), 60);

    // A key inserted with its button and moved with its bar.
    form.ScrollBar[13]->setValue(20);
    form.SpeedButton[2]->click();
    EXPECT_EQ(form.SpeedButton[2]->text(), "De");
    form.ScrollBar[2]->setValue(30);
    EXPECT_EQ(env.Value(Quantity::Volume, 1, 20), -3000);
    EXPECT_EQ(form.Series[2]->count(), 3);
    EXPECT_EQ(form.Series[2]->at(1), QPointF(20, -3000));

    // A shorter mix pulls the finishing position back, on the bars and the charts.
    form.ScrollBar[15]->setValue(40);
    EXPECT_EQ(env.MixLength(), 40);
    EXPECT_EQ(form.ScrollBar[14]->value(), 40);
    EXPECT_EQ(form.ScrollBar[14]->maximum(), 40);
    EXPECT_EQ(form.AxisX[1]->max(), 40);
    EXPECT_EQ(form.Series[6]->at(form.Series[6]->count() - 1), QPointF(40, 0));
    EXPECT_EQ(form.Label[1]->text(), "40");
    // The volume chart's line of the two decks together follows, one point a tick, in a colour
    // of its own.
    EXPECT_EQ(form.VolumeSum->count(), 41);
    EXPECT_EQ(form.VolumeSum->at(0), QPointF(0, 301));  // +3 dB
    EXPECT_EQ(form.VolumeSum->at(20), QPointF(20, 0));  // the incoming deck 30 dB down
    for (int n = 1; n <= 4; ++n) EXPECT_NE(form.VolumeSum->pen().color(), form.Series[n]->pen().color()) << n;
}

TEST(MixEditorForm, ThePositionBarsAreDisabledWhileAMixRuns) {
    MixEnvelope env;
    EnvelopeEditor editor(env);
    TMixEditor form(editor);
    form.show();

    editor.SetMixRunning(true);  // the mix starts while the editor is open
    form.Render();
    for (int n : {14, 15, 16}) EXPECT_FALSE(form.ScrollBar[n]->isEnabled()) << n;
    EXPECT_TRUE(form.ScrollBar[13]->isEnabled());
    form.ScrollBar[15]->setValue(100);  // nothing gets past a disabled bar
    EXPECT_EQ(env.MixLength(), 60);
    EXPECT_EQ(form.ScrollBar[15]->value(), 60);

    editor.SetMixRunning(false);
    form.Render();
    for (int n : {14, 15, 16}) EXPECT_TRUE(form.ScrollBar[n]->isEnabled()) << n;

    form.BitBtn1->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(editor.visible);
    form.show();  // each opening resynchronises
    EXPECT_TRUE(editor.visible);
    EXPECT_EQ(form.ScrollBar[13]->value(), 30);
}

TEST(MixEditorForm, TheRatePageComesWithMixingOnTheBeatAndTakesNothing) {
    MixEnvelope env;
    EnvelopeEditor editor(env);
    TMixEditor form(editor);
    form.show();
    editor.ShowRates(true, std::nullopt, "");
    form.Render();
    ASSERT_TRUE(form.PageControl1->isTabVisible(2));
    form.PageControl1->setCurrentIndex(2);
    EXPECT_EQ(form.Label[5]->text(), "The next mix is not on the beat");
    EXPECT_EQ(form.Series[10]->count(), 2);
    form.ScrollBar[10]->setValue(150);  // read-only: the bar goes back
    EXPECT_EQ(form.ScrollBar[10]->value(), 100);

    editor.ShowRates(false, std::nullopt, "");
    form.Render();
    EXPECT_FALSE(form.PageControl1->isTabVisible(2));
    EXPECT_EQ(form.PageControl1->currentIndex(), 1);
}

}  // namespace
