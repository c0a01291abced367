#pragma once
#include <array>
#include <cstdint>

#include <QWidget>

class QGraphicsItem;

#include "playback/EnvelopeEditor.h"

class QCategoryAxis;
class QChart;
class QChartView;
class QDoubleSpinBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QToolButton;
class QValueAxis;
class QVBoxLayout;

namespace quendo {

// The mix editor's window: renders an EnvelopeEditor and forwards the bars, buttons and tabs to it.
class TMixEditor : public QWidget {
public:
    explicit TMixEditor(EnvelopeEditor& editor, QWidget* parent = nullptr);

    // Copies the editor's display state into the widgets; returns at once when nothing changed.
    void Render();

    EnvelopeEditor& editor;

    QTabWidget* PageControl1 = nullptr;
    std::array<QWidget*, 4> TabSheet{};          // TabSheet1..3
    std::array<QChart*, 4> Chart{};              // Chart1..3
    std::array<QChartView*, 4> ChartView{};
    std::array<QValueAxis*, 4> AxisX{};
    std::array<QValueAxis*, 4> AxisY{};
    std::array<QLineSeries*, 4> CursorLine{};    // Chart1, Chart2: the vertical line at the cursor
    std::array<QLineSeries*, 13> Series{};       // Series1..12
    QLineSeries* VolumeSum = nullptr;            // Chart1: the two decks' predicted level together
    // Chart3: the planned mix's phrase lines and bass swap, and each deck's "Bass" course on an
    // axis of its own at the right.
    QLineSeries* PhraseLines = nullptr;
    QLineSeries* BassSwapLine = nullptr;
    std::array<QLineSeries*, 2> BassCourse{};
    QValueAxis* BassAxis = nullptr;
    std::array<QScrollBar*, 17> ScrollBar{};     // ScrollBar1..16
    std::array<QToolButton*, 9> SpeedButton{};   // SpeedButton1..8
    std::array<QLabel*, 6> Label{};              // Label1..4, the number labels; Label5, the rate page's tempi
    QPushButton* BitBtn1 = nullptr;

    // With the tracks shown: what comes next and "Listen", a legend, a point by number, the
    // shapes and the defaults; and on each chart the two tracks under the curves, with axes in
    // seconds (and bars), decibels and percent.
    QLabel* NextChange = nullptr;
    QPushButton* Listen = nullptr;
    QLabel* Legend = nullptr;
    QDoubleSpinBox* PointTime = nullptr;   // seconds into the mix
    QDoubleSpinBox* PointValue = nullptr;  // dB, or % left (-) and right (+)
    std::array<QPushButton*, 3> ShapeButton{};  // linear, equal power, cut
    QPushButton* ResetButton = nullptr;
    std::array<QGraphicsItem*, 4> Lanes{};       // Chart1..3: the tracks, drawn under the curves
    std::array<QCategoryAxis*, 4> SecondsAxis{};
    std::array<QCategoryAxis*, 4> BarsAxis{};
    std::array<QCategoryAxis*, 3> UnitAxis{};     // Chart1: dB; Chart2: left and right
    int selectedBar = 1;  // the curve whose point the numbers show: its value bar's number

    // The chart's position (in the view) of an envelope point of a series, and back.
    QPointF PositionOf(int series, QPointF point) const;
    QPointF PointAt(int series, QPointF position) const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RenderAll(bool force);
    void RenderBar(int n);
    void Forward(int bar, int position);
    void BuildPage(int page);
    QWidget* BuildBottomBar(int bar, int label, const char* caption);
    QScrollBar* NewScrollBar(int n, Qt::Orientation orientation);  // ScrollBar[n], set from the editor

    std::uint64_t renderedRevision_ = ~std::uint64_t{0};
    std::array<std::uint64_t, 13> renderedSeries_{};
    std::uint64_t renderedVolumeSum_ = 0;
    std::uint64_t renderedRateMarks_ = 0;
    std::array<int, 4> renderedCursor_{-1, -1, -1, -1};
    std::uint64_t renderedMix_ = ~std::uint64_t{0};
    double renderedPlayhead_ = -2;
    int renderedLength_ = -1;
    struct Drag {
        int page = 0;  // 0: none
        int bar = 0;
        int index = 0;
    } drag_;
    void BuildTracksRows(QVBoxLayout* main);
    void AddTrackAxes(int page);
    void RenderTracks(bool force);
    void RenderUnitAxes();
    void RenderPoint();
    void PointEdited();
    bool ChartMouse(int page, QEvent* event);
};

}  // namespace quendo
