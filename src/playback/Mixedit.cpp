#include "playback/Mixedit.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "platform/qt/FixedWindow.h"

namespace quendo {

namespace {

constexpr int kFirstOfPage[4] = {0, 1, 5, 9};  // the first bar and series number on each page

QColor CurveColour(int n) {
    switch ((n - 1) % 4) {
        case 0: return QColor(Qt::red);
        case 1: return QColor(Qt::yellow);
        case 2: return QColor(Qt::green);
        default: return QColor(Qt::cyan);
    }
}

// Apart from the four curves' colours, and bright on the dark plot.
const QColor kVolumeSumColour(230, 120, 255);
// The rate page's marks: grey phrase lines under everything, the swap in orange.
const QColor kPhraseColour(110, 110, 110);
const QColor kSwapColour(255, 150, 40);

QList<QPointF> PointsOf(const std::vector<EnvelopeEditor::ChartPoint>& points) {
    QList<QPointF> list;
    list.reserve(static_cast<qsizetype>(points.size()));
    for (const EnvelopeEditor::ChartPoint& p : points) list.append(QPointF(p.x, p.y));
    return list;
}

// A square with a dark rim: Qt Charts draws an image as each point's mark.
QImage SquareMark(const QColor& colour) {
    QImage image(9, 9, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter p(&image);
    p.fillRect(1, 1, 7, 7, colour);
    return image;
}

QFrame* ColourMark(const QColor& colour) {
    auto* mark = new QFrame;
    mark->setFixedSize(16, 6);
    mark->setAutoFillBackground(true);
    QPalette pal = mark->palette();
    pal.setColor(QPalette::Window, colour);
    mark->setPalette(pal);
    return mark;
}

}  // namespace

TMixEditor::TMixEditor(EnvelopeEditor& e, QWidget* parent) : QWidget(parent, kOwnedWindow), editor(e) {
    setObjectName(QStringLiteral("MixEditor"));
    setWindowTitle(QStringLiteral("MixEditor"));
    setWindowFlags(kOwnedWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setTabPosition(QTabWidget::East);
    QFont tabFont = PageControl1->tabBar()->font();
    tabFont.setPixelSize(16);
    tabFont.setBold(true);
    PageControl1->tabBar()->setFont(tabFont);
    // Tabs on the right run downwards: their width along the text is their height here.
    PageControl1->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { height: 78px; padding: 0px 4px; }"));
    for (int page = 1; page <= 3; ++page) BuildPage(page);
    PageControl1->setTabEnabled(2, false);
    PageControl1->setTabVisible(2, false);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        editor.SelectPage(index);
        Render();
    });

    auto* bottom = new QGridLayout;
    bottom->setHorizontalSpacing(16);
    bottom->setVerticalSpacing(4);
    bottom->addWidget(BuildBottomBar(13, 4, "Position"), 0, 0);
    bottom->addWidget(BuildBottomBar(15, 2, "Mix length"), 0, 1);
    bottom->addWidget(BuildBottomBar(14, 1, "Finishing position"), 1, 0);
    bottom->addWidget(BuildBottomBar(16, 3, "Starting position"), 1, 1);
    BitBtn1 = new QPushButton(QStringLiteral("OK"));
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setFixedWidth(75);
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        editor.BitBtn1Click();
        Render();
    });
    bottom->addWidget(BitBtn1, 0, 2, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
    bottom->setColumnStretch(0, 1);
    bottom->setColumnStretch(1, 1);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(6, 6, 6, 6);
    main->addWidget(PageControl1, 1);
    main->addLayout(bottom);
    setFixedSize(640, 480);

    RenderAll(true);
}

void TMixEditor::BuildPage(int page) {
    static const char* const kCaptions[4] = {"", "Volume", "Balance", "Rate"};
    auto* sheet = new QWidget;
    sheet->setObjectName(QStringLiteral("TabSheet%1").arg(page));
    TabSheet[page] = sheet;

    auto* chart = new QChart;
    chart->setTitle(QString::fromLatin1(kCaptions[page]));
    QFont titleFont = chart->titleFont();
    titleFont.setBold(true);
    chart->setTitleFont(titleFont);
    chart->legend()->hide();
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    chart->setPlotAreaBackgroundBrush(QColor(24, 24, 24));
    chart->setPlotAreaBackgroundVisible(true);
    Chart[page] = chart;

    auto* x = new QValueAxis;
    x->setLabelFormat(QStringLiteral("%d"));
    x->setRange(0, editor.Charts[page].axisMax);
    auto* y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%d"));
    // The plot clips its series at the frame: a little room beyond the ends keeps a line at
    // full volume or full left visible, while the labelled ticks still run end to end.
    auto span = [y](int low, int high, int tick) {
        const int room = (high - low) / 40;
        y->setRange(low - room, high + room);
        y->setTickType(QValueAxis::TicksDynamic);
        y->setTickAnchor(0);
        y->setTickInterval(tick);
    };
    if (page == 1) {
        span(-10000, 0, 2500);
        y->setRange(EnvelopeEditor::kVolumeChartMin, EnvelopeEditor::kVolumeChartMax);
    }
    if (page == 2) {
        span(-10000, 10000, 5000);
        y->setReverse(true);  // full left at the top, like the balance bars
    }
    if (page == 3) span(0, 200, 50);
    for (QValueAxis* axis : {x, y}) axis->setGridLineColor(QColor(70, 70, 70));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    AxisX[page] = x;
    AxisY[page] = y;

    auto attach = [&](QLineSeries* s) {
        chart->addSeries(s);
        s->attachAxis(x);
        s->attachAxis(y);
    };
    if (page == 1) {
        // Under the curves, so that where it meets one the curve's marks stay on top.
        VolumeSum = new QLineSeries;
        VolumeSum->setName(QStringLiteral("VolumeSum"));
        VolumeSum->setPen(QPen(kVolumeSumColour, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        attach(VolumeSum);
    }
    if (page == 3) {
        PhraseLines = new QLineSeries;
        PhraseLines->setName(QStringLiteral("PhraseLines"));
        PhraseLines->setPen(QPen(kPhraseColour, 1, Qt::DashLine));
        attach(PhraseLines);
        BassSwapLine = new QLineSeries;
        BassSwapLine->setName(QStringLiteral("BassSwapLine"));
        BassSwapLine->setPen(QPen(kSwapColour, 2, Qt::DashLine));
        attach(BassSwapLine);
        BassAxis = new QValueAxis;
        BassAxis->setTitleText(QStringLiteral("Bass"));
        BassAxis->setLabelFormat(QStringLiteral("%d%%"));
        // Room above full, so that a bass at full stands clear of the frame.
        BassAxis->setRange(-5, EnvelopeEditor::kBassShown * 1.15);
        BassAxis->setTickType(QValueAxis::TicksDynamic);
        BassAxis->setTickAnchor(0);
        BassAxis->setTickInterval(EnvelopeEditor::kBassShown / 2.0);
        BassAxis->setGridLineVisible(false);
        chart->addAxis(BassAxis, Qt::AlignRight);
        for (int deck = 0; deck < 2; ++deck) {
            auto* s = new QLineSeries;
            s->setName(QStringLiteral("BassCourse%1").arg(deck + 1));
            // The deck's colour, thin and dotted: read-only, unlike the curves.
            s->setPen(QPen(CurveColour(kFirstOfPage[3] + deck), 2, Qt::DotLine));
            chart->addSeries(s);
            s->attachAxis(x);
            s->attachAxis(BassAxis);
            BassCourse[deck] = s;
        }
    }
    if (page != 3) {
        auto* cursor = new QLineSeries;
        cursor->setPen(QPen(QColor(200, 200, 200), 1, Qt::DashLine));
        attach(cursor);
        CursorLine[page] = cursor;
    }
    for (int n = kFirstOfPage[page]; n < kFirstOfPage[page] + 4; ++n) {
        auto* s = new QLineSeries;
        s->setName(QStringLiteral("Series%1").arg(n));
        const QColor colour = CurveColour(n);
        s->setPen(QPen(colour, 2));
        s->setLightMarker(SquareMark(colour));
        s->setMarkerSize(9);
        attach(s);
        Series[n] = s;
    }

    auto* view = new QChartView(chart);
    view->setObjectName(QStringLiteral("Chart%1").arg(page));
    view->setRubberBand(QChartView::NoRubberBand);
    view->setFrameShape(QFrame::NoFrame);
    ChartView[page] = view;

    auto* row = new QHBoxLayout(sheet);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(4);
    if (page == 3) {
        // The two tracks' tempi, or why the next mix is a plain one, above the curves.
        auto* tempi = new QLabel;
        tempi->setObjectName(QStringLiteral("Label5"));
        QFont bold = tempi->font();
        bold.setBold(true);
        tempi->setFont(bold);
        tempi->setWordWrap(true);
        tempi->setAlignment(Qt::AlignCenter);
        Label[5] = tempi;
        auto* column = new QVBoxLayout;
        column->setSpacing(2);
        column->addWidget(tempi);
        column->addWidget(view, 1);
        row->addLayout(column, 1);
    } else {
        row->addWidget(view, 1);
    }
    for (int n = kFirstOfPage[page]; n < kFirstOfPage[page] + 4; ++n) {
        const EnvelopeEditor::Bar& state = editor.ScrollBar[n];
        auto* column = new QWidget;
        auto* col = new QVBoxLayout(column);
        col->setContentsMargins(0, 0, 0, 0);
        col->setSpacing(3);
        QScrollBar* bar = NewScrollBar(n, Qt::Vertical);
        col->addWidget(ColourMark(CurveColour(n)), 0, Qt::AlignHCenter);
        col->addWidget(bar, 1, Qt::AlignHCenter);
        col->addWidget(ColourMark(CurveColour(n)), 0, Qt::AlignHCenter);
        if (page != 3) {
            auto* button = new QToolButton;
            button->setObjectName(QStringLiteral("SpeedButton%1").arg(n));
            button->setCheckable(true);
            button->setFixedSize(30, 22);
            button->setText(QString::fromStdString(editor.SpeedButton[n].caption));
            SpeedButton[n] = button;
            connect(button, &QToolButton::clicked, this, [this, n] {
                editor.SpeedButtonClick(n);
                Render();
            });
            col->addWidget(button, 0, Qt::AlignHCenter);
        }
        column->setVisible(state.visible);
        row->addWidget(column);
    }
    PageControl1->addTab(sheet, QString::fromLatin1(kCaptions[page]));
}

QScrollBar* TMixEditor::NewScrollBar(int n, Qt::Orientation orientation) {
    const EnvelopeEditor::Bar& state = editor.ScrollBar[n];
    auto* bar = new QScrollBar(orientation);
    bar->setObjectName(QStringLiteral("ScrollBar%1").arg(n));
    bar->setRange(state.min, state.max);
    bar->setPageStep(state.largeChange);
    bar->setValue(state.position);
    ScrollBar[n] = bar;
    connect(bar, &QScrollBar::valueChanged, this, [this, n](int v) { Forward(n, v); });
    return bar;
}

QWidget* TMixEditor::BuildBottomBar(int bar, int label, const char* caption) {
    auto* box = new QWidget;
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(1);

    QScrollBar* b = NewScrollBar(bar, Qt::Horizontal);

    auto* number = new QLabel;
    number->setObjectName(QStringLiteral("Label%1").arg(label));
    number->setFixedSize(48, 20);
    number->setAlignment(Qt::AlignCenter);
    number->setAutoFillBackground(true);
    QPalette pal = number->palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, QColor(0, 255, 0));
    number->setPalette(pal);
    QFont digits = number->font();
    digits.setBold(true);
    number->setFont(digits);
    Label[label] = number;

    auto* text = new QLabel(QString::fromLatin1(caption));
    grid->addWidget(b, 0, 0);
    grid->addWidget(number, 0, 1);
    grid->addWidget(text, 1, 0);
    grid->setColumnStretch(0, 1);
    return box;
}

void TMixEditor::Render() { RenderAll(false); }

void TMixEditor::Forward(int bar, int position) {
    // A bar the editor holds disabled has no say: it goes back to where the editor has it.
    if (!editor.ScrollBar[bar].enabled) {
        RenderBar(bar);
        return;
    }
    if (position != editor.ScrollBar[bar].position) editor.ScrollBarChange(bar, position);
    Render();
}

void TMixEditor::RenderBar(int n) {
    QScrollBar* w = ScrollBar[n];
    const EnvelopeEditor::Bar& b = editor.ScrollBar[n];
    const QSignalBlocker block(w);
    if (w->minimum() != b.min || w->maximum() != b.max) w->setRange(b.min, b.max);
    if (w->value() != b.position) w->setValue(b.position);
    if (w->pageStep() != b.largeChange) w->setPageStep(b.largeChange);
    if (w->isEnabled() != b.enabled) w->setEnabled(b.enabled);
}

void TMixEditor::RenderAll(bool force) {
    if (!force && editor.revision == renderedRevision_) return;
    renderedRevision_ = editor.revision;

    // The rate page comes and goes with mixing on the beat; its tab first, so it can be current.
    if (PageControl1->isTabVisible(2) != editor.ratePageShown) {
        const QSignalBlocker block(PageControl1);
        PageControl1->setTabEnabled(2, editor.ratePageShown);
        PageControl1->setTabVisible(2, editor.ratePageShown);
    }
    if (PageControl1->currentIndex() != editor.activePage) {
        const QSignalBlocker block(PageControl1);
        PageControl1->setCurrentIndex(editor.activePage);
    }
    for (int n = 1; n <= 16; ++n) RenderBar(n);
    for (int n = 1; n <= 8; ++n) {
        QToolButton* w = SpeedButton[n];
        const EnvelopeEditor::KeyButton& b = editor.SpeedButton[n];
        const QSignalBlocker block(w);
        if (w->isChecked() != b.down) w->setChecked(b.down);
        const QString caption = QString::fromStdString(b.caption);
        if (w->text() != caption) w->setText(caption);
    }
    for (int n = 1; n <= 5; ++n) {
        const QString text = QString::fromStdString(editor.Label[n]);
        if (Label[n]->text() != text) Label[n]->setText(text);
    }
    for (int c = 1; c <= 2; ++c) {
        const EnvelopeEditor::Chart& state = editor.Charts[c];
        if (force || AxisX[c]->max() != state.axisMax) AxisX[c]->setRange(0, state.axisMax);
        if (force || renderedCursor_[c] != state.cursor) {
            const qreal x = state.cursor;
            CursorLine[c]->replace(QList<QPointF>{{x, AxisY[c]->min()}, {x, AxisY[c]->max()}});
            renderedCursor_[c] = state.cursor;
        }
    }
    if (force || AxisX[3]->max() != editor.Charts[3].axisMax) AxisX[3]->setRange(0, editor.Charts[3].axisMax);
    for (int n = 1; n <= 12; ++n) {
        if (!force && renderedSeries_[n] == editor.seriesRevision[n]) continue;
        renderedSeries_[n] = editor.seriesRevision[n];
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(editor.Series[n].size()));
        for (const EnvelopeEditor::ChartPoint& p : editor.Series[n]) points.append(QPointF(p.x, p.y));
        Series[n]->replace(points);
    }
    if (force || renderedVolumeSum_ != editor.volumeSumRevision) {
        renderedVolumeSum_ = editor.volumeSumRevision;
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(editor.VolumeSum.size()));
        for (const EnvelopeEditor::ChartPoint& p : editor.VolumeSum) points.append(QPointF(p.x, p.y));
        VolumeSum->replace(points);
    }
    if (force || renderedRateMarks_ != editor.rateMarksRevision) {
        renderedRateMarks_ = editor.rateMarksRevision;
        PhraseLines->replace(PointsOf(editor.PhraseLines));
        BassSwapLine->replace(PointsOf(editor.BassSwapLine));
        for (int deck = 0; deck < 2; ++deck) BassCourse[deck]->replace(PointsOf(editor.BassCourse[deck]));
    }
    if (!editor.visible && isVisible()) hide();
}

void TMixEditor::showEvent(QShowEvent* event) {
    // Restoring from the task bar is no new opening.
    if (!event->spontaneous()) {
        editor.FormShow();
        RenderAll(true);
    }
    QWidget::showEvent(event);
}

void TMixEditor::closeEvent(QCloseEvent* event) {
    editor.FormClose();
    QWidget::closeEvent(event);
}

}  // namespace quendo
