#include <gtest/gtest.h>

#include <QApplication>
#include <QDoubleSpinBox>
#include <QTest>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChartView>
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

// A minute of sound in three bands, loud in the bass, as the analysis keeps it.
std::shared_ptr<const TrackWave> MinuteOfSound() {
    auto wave = std::make_shared<TrackWave>();
    wave->pointSeconds = 0.005;
    for (int band = 0; band < TrackWave::kBands; ++band)
        wave->points[band].assign(12000, static_cast<std::uint8_t>(TrackWave::kTop - 15 * band));
    return wave;
}

int PixelsOf(const QImage& image, QRect area, QColor colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) n += image.pixelColor(x, y) == colour;
    return n;
}

TEST(MixEditorForm, WithTheTracksShownAPointIsDraggedWithTheMouse) {
    MixEnvelope env;
    EnvelopeEditor editor(env);
    TMixEditor form(editor);
    int listened = 0;
    editor.onListen = [&] { ++listened; };
    editor.ShowTracks(true);
    EnvelopeEditor::MixView view;
    view.lanes[0].name = "Outro";
    view.lanes[0].fileAtZero = 40;
    view.lanes[1].name = "Intro";
    view.lanes[1].fileAtZero = -1;
    for (EnvelopeEditor::Lane& lane : view.lanes) {
        lane.wave = MinuteOfSound();
        lane.to = 60;
        lane.beats = {120, 0.25, 0.5, 0};
        lane.shown = true;
    }
    view.lanes[1].from = 10;  // the incoming track's sound from the first second
    view.nextChange = "Mix on the beat over 3 bars";
    view.nextExists = true;
    editor.ShowMix(view);
    form.show();
    QApplication::processEvents();

    EXPECT_EQ(form.size(), QSize(960, 660));
    EXPECT_TRUE(form.NextChange->text().contains("Mix on the beat over 3 bars"));
    for (const char* name : {"outgoing", "incoming", "combined level"}) EXPECT_TRUE(form.Legend->text().contains(name));
    form.Listen->click();
    EXPECT_EQ(listened, 1);
    // Seconds along, dB up, left and right in percent; the index axes hidden.
    EXPECT_TRUE(form.SecondsAxis[2]->categoriesLabels().contains("6 s"));
    EXPECT_EQ(form.SecondsAxis[2]->endValue("6 s"), 60);
    EXPECT_FALSE(form.AxisX[2]->isVisible());
    EXPECT_TRUE(form.UnitAxis[2]->categoriesLabels().contains("100% L"));
    EXPECT_EQ(form.UnitAxis[1]->endValue("-40 dB"), -4000);
    // The outgoing track's bass above the middle line, the incoming one's from its start only.
    const QImage shot = form.ChartView[2]->grab().toImage();
    const QRect plot = form.Chart[2]->plotArea().toRect();
    const QColor bass(40, 90, 210);
    EXPECT_GT(PixelsOf(shot, {plot.left(), plot.top(), 40, plot.height() / 2}, bass), 100);
    EXPECT_EQ(PixelsOf(shot, {plot.left() + 2, plot.center().y() + 2, 20, plot.height() / 2 - 4}, bass), 0);

    // On the volume page: a press on the outgoing curve makes a key there; dragged down, it
    // takes the value under the pointer; dragged sideways, it moves.
    form.PageControl1->setCurrentIndex(0);
    QApplication::processEvents();
    QWidget* plotArea = form.ChartView[1]->viewport();
    const auto at = [&](int index, int value) { return form.PositionOf(1, QPointF(index, value)).toPoint(); };
    struct Step {
        QPoint press, release;
        int keyAt, value;
    };
    const Step steps[] = {{at(30, 0), at(30, -3000), 30, -3000}, {at(30, -3000), at(40, -3000), 40, -3000}};
    for (const Step& s : steps) {
        QTest::mousePress(plotArea, Qt::LeftButton, {}, s.press);
        QTest::mouseMove(plotArea, s.release);
        QTest::mouseRelease(plotArea, Qt::LeftButton, {}, s.release);
        EXPECT_TRUE(env.IsKey(Quantity::Volume, 0, s.keyAt));
        EXPECT_NEAR(env.Value(Quantity::Volume, 0, s.keyAt), s.value, 200);
        EXPECT_EQ(form.Series[1]->count(), 3);
        EXPECT_DOUBLE_EQ(form.PointTime->value(), s.keyAt / 10.0);
    }
    EXPECT_FALSE(env.IsKey(Quantity::Volume, 0, 30));
    // The combined level follows the point: no longer both decks at full (+3 dB) there.
    EXPECT_LT(form.VolumeSum->at(40).y(), 200);
    // By number, then taken off with the right button.
    form.PointValue->setValue(-12);
    EXPECT_EQ(env.Value(Quantity::Volume, 0, 40), -1200);
    QTest::mouseClick(plotArea, Qt::RightButton, {}, at(40, -1200));
    EXPECT_FALSE(env.IsKey(Quantity::Volume, 0, 40));

    // Off: the described editor, which the mouse does not edit.
    editor.ShowTracks(false);
    form.Render();
    EXPECT_EQ(form.size(), QSize(640, 480));
    EXPECT_TRUE(form.AxisX[1]->isVisible());
    EXPECT_FALSE(form.NextChange->isVisible());
    QTest::mouseClick(plotArea, Qt::LeftButton, {}, at(20, 0));
    EXPECT_FALSE(env.IsKey(Quantity::Volume, 0, 20));
}

}  // namespace
