#pragma once
#include <array>
#include <cstdint>

#include <QWidget>

#include "playback/EnvelopeEditor.h"

class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QPushButton;
class QScrollBar;
class QTabWidget;
class QToolButton;
class QValueAxis;

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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

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
};

}  // namespace quendo
