#include "playback/Mixedit.h"

#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QGraphicsItem>
#include <QGraphicsSceneEvent>
#include <QMouseEvent>
#include <QRegularExpression>
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
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

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

// A point's value by number: decibels, or the balance as a DJ says it ("30 % L", "centre").
class PointSpin : public QDoubleSpinBox {
public:
    bool balance = false;
    QString textFromValue(double v) const override {
        if (!balance) return QDoubleSpinBox::textFromValue(v);
        if (std::abs(v) < 0.05) return QStringLiteral("centre");
        return QStringLiteral("%1 % %2").arg(std::abs(v), 0, 'f', 1).arg(v < 0 ? QLatin1Char('L') : QLatin1Char('R'));
    }
    double valueFromText(const QString& text) const override {
        if (!balance) return QDoubleSpinBox::valueFromText(text);
        QString t = text.trimmed();
        if (t.startsWith(QLatin1Char('c'))) return 0;
        const bool left = t.endsWith(QLatin1Char('L'), Qt::CaseInsensitive);
        t.remove(QRegularExpression(QStringLiteral("[^0-9.]")));
        return (left ? -1 : 1) * t.toDouble();
    }
    QValidator::State validate(QString& text, int& at) const override {
        return balance ? QValidator::Acceptable : QDoubleSpinBox::validate(text, at);
    }
};

// The window's size with the tracks shown, and as described.
constexpr QSize kTracksSize(960, 660), kPlainSize(640, 480);

// The bands as DJ programs colour them: the bass deep blue, the middle teal, the highs white,
// muted enough that the curves over them stay the brightest lines.
const QColor kBandColour[TrackWave::kBands] = {QColor(40, 90, 210), QColor(30, 160, 150), QColor(215, 215, 225)};
const QColor kOutgoingText(255, 110, 110), kIncomingText(255, 235, 90);

// The two tracks under a chart's curves: outgoing above, incoming below, on the envelope's
// indices. The picture is kept as a pixmap until the view, the plot's size or the axis change;
// a paint otherwise only copies it and draws the playhead.
class TrackLanes : public QGraphicsItem {
public:
    TrackLanes(QChart* chart, const EnvelopeEditor& editor, QValueAxis* axis)
        : QGraphicsItem(chart), chart_(chart), editor_(editor), axis_(axis) {
        // Above the plot's background and grid, under the series: the sound hides the grid, as a
        // DJ program's waveform does, and the curves stay on top.
        setZValue(2.5);
        setAcceptedMouseButtons(Qt::NoButton);
    }
    QRectF boundingRect() const override { return chart_->plotArea(); }
    void Changed() {
        prepareGeometryChange();
        stale_ = true;
        update();
    }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        const QRectF plot = chart_->plotArea();
        const QSize size = plot.size().toSize();
        if (size.isEmpty()) return;
        if (stale_ || cache_.size() != size) {
            stale_ = false;
            cache_ = QPixmap(size);
            cache_.fill(Qt::transparent);
            QPainter p(&cache_);
            Draw(p, QRectF(QPointF(0, 0), plot.size()));
        }
        painter->drawPixmap(plot.topLeft().toPoint(), cache_);
        if (editor_.playhead >= 0) {
            const double x = plot.left() + X(editor_.playhead, plot.width());
            painter->setPen(QPen(QColor(255, 255, 255), 2));
            painter->drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        }
    }

private:
    QChart* chart_;
    const EnvelopeEditor& editor_;
    QValueAxis* axis_;
    QPixmap cache_;
    bool stale_ = true;

    double X(double index, double width) const {
        const double span = axis_->max() - axis_->min();
        return span > 0 ? (index - axis_->min()) / span * width : 0;
    }

    void Draw(QPainter& p, const QRectF& r) const {
        const EnvelopeEditor::MixView& mix = editor_.mix;
        const double half = r.height() / 2;
        p.setPen(QPen(QColor(80, 80, 80), 0));
        p.drawLine(QPointF(0, half), QPointF(r.width(), half));
        for (int n = 0; n < 2; ++n) {
            const EnvelopeEditor::Lane& lane = mix.lanes[n];
            if (!lane.shown) continue;
            const QRectF box(0, n * half, r.width(), half);
            DrawWave(p, lane, box, mix.secondsPerIndex);
            DrawGrid(p, lane, box, mix, n);
        }
        QFont small = p.font();
        small.setPixelSize(11);
        p.setFont(small);
        // The mix's phrase lines and its bass swap run across both tracks.
        p.setPen(QPen(QColor(200, 200, 200, 170), 0, Qt::DashLine));
        for (const double line : mix.phraseLines) {
            const double x = X(line, r.width());
            p.drawLine(QPointF(x, 0), QPointF(x, r.height()));
        }
        if (mix.bassSwap >= 0) {
            const double x = X(mix.bassSwap, r.width());
            p.setPen(QPen(QColor(255, 150, 40), 2, Qt::DashLine));
            p.drawLine(QPointF(x, 0), QPointF(x, r.height()));
            p.drawText(QPointF(x + 4, 30), QStringLiteral("bass swap"));
        }
        QFont bold = small;
        bold.setBold(true);
        bold.setPixelSize(12);
        p.setFont(bold);
        for (int n = 0; n < 2; ++n) {
            const EnvelopeEditor::Lane& lane = mix.lanes[n];
            if (!lane.shown || lane.name.empty()) continue;
            const double x = n == 0 ? 4 : std::clamp(X(lane.from, r.width()) + 4, 4.0, r.width() - 120);
            const QString text = QString::fromStdString((n == 0 ? "Outgoing: " : "Incoming: ") + lane.name);
            const QRectF box = p.fontMetrics().boundingRect(text).adjusted(-3, -1, 3, 1).translated(x, n * half + 15);
            p.fillRect(box, QColor(0, 0, 0, 170));
            p.setPen(n == 0 ? kOutgoingText : kIncomingText);
            p.drawText(QPointF(x, n * half + 15), text);
        }
    }

    // Each pixel column shows the loudest point of each band it covers, mirrored about the
    // track's middle line: the bass widest under the others.
    void DrawWave(QPainter& p, const EnvelopeEditor::Lane& lane, const QRectF& box, double spi) const {
        if (!lane.wave || !lane.wave->Known()) return;
        const TrackWave& wave = *lane.wave;
        const double width = box.width(), middle = box.center().y(), reach = box.height() / 2 - 2;
        const double span = axis_->max() - axis_->min();
        const int first = std::max(0, static_cast<int>(X(lane.from, width)));
        const int last = std::min(static_cast<int>(width), static_cast<int>(std::ceil(X(lane.to, width))));
        const auto size = static_cast<long>(wave.points[0].size());
        // Whole-pixel columns, filled: a stroked line takes the stroker's long way round.
        std::array<QList<QRect>, TrackWave::kBands> columns;
        for (int x = first; x < last; ++x) {
            const double i0 = axis_->min() + x / width * span, i1 = axis_->min() + (x + 1) / width * span;
            long p0 = static_cast<long>(std::floor(lane.FileSecond(i0, spi) / wave.pointSeconds));
            long p1 = static_cast<long>(std::floor(lane.FileSecond(i1, spi) / wave.pointSeconds));
            p0 = std::max(0L, p0);
            p1 = std::min(size, std::max(p0 + 1, p1));
            if (p0 >= p1) continue;
            for (int band = 0; band < TrackWave::kBands; ++band) {
                const std::vector<std::uint8_t>& points = wave.points[band];
                const std::uint8_t top = *std::max_element(points.begin() + p0, points.begin() + p1);
                if (top == 0) continue;
                const int h = static_cast<int>(std::lround(reach * top / TrackWave::kTop));
                columns[band].append(QRect(x, static_cast<int>(middle) - h, 1, 2 * h + 1));
            }
        }
        p.setPen(Qt::NoPen);
        for (int band = 0; band < TrackWave::kBands; ++band) {
            p.setBrush(kBandColour[band]);
            p.drawRects(columns[band]);
        }
    }

    // The track's beats and bars (its own bar numbers), its phrase lines where the mix has none
    // of its own, and its mark: the last sound going out, the first bar coming in.
    void DrawGrid(QPainter& p, const EnvelopeEditor::Lane& lane, const QRectF& box, const EnvelopeEditor::MixView& mix,
                  int n) const {
        const double spi = mix.secondsPerIndex, width = box.width();
        const double from = std::max(lane.from, axis_->min()), to = std::min(lane.to, axis_->max());
        const auto at = [&](double fileSecond) { return X(lane.IndexOf(fileSecond, spi), width); };
        const BeatGrid& g = lane.beats;
        QFont small = p.font();
        small.setPixelSize(10);
        p.setFont(small);
        if (g.Steady() && to > from) {
            const double f0 = lane.FileSecond(from, spi), f1 = lane.FileSecond(to, spi);
            const double beatPixels = at(f0 + g.period) - at(f0);
            const long k0 = static_cast<long>(std::ceil((f0 - g.firstBeat) / g.period));
            const long k1 = static_cast<long>(std::floor((f1 - g.firstBeat) / g.period));
            for (long k = k0; k <= k1 && k - k0 < 20000; ++k) {
                const bool barLine = g.barPhase >= 0 && (k - g.barPhase) % 4 == 0;
                if (!barLine && beatPixels < 4) continue;
                const double x = at(g.firstBeat + k * g.period);
                p.setPen(QPen(barLine ? QColor(150, 150, 150, 150) : QColor(110, 110, 110, 90), 0));
                p.drawLine(QPointF(x, box.top() + (barLine ? 0 : box.height() * 0.35)),
                           QPointF(x, box.bottom() - (barLine ? 0 : box.height() * 0.35)));
                // Bar numbers as the track counts them, every bar where there is room.
                if (barLine) {
                    const long bar = (k - g.barPhase) / 4;
                    const int every = beatPixels * 4 >= 28 ? 1 : beatPixels * 4 >= 8 ? 4 : 16;
                    if (bar % every == 0) {
                        p.setPen(QColor(170, 170, 170));
                        p.drawText(QPointF(x + 2, box.bottom() - 3), QString::number(bar + 1));
                    }
                }
            }
        }
        if (mix.phraseLines.empty()) {
            p.setPen(QPen(QColor(200, 200, 200, 150), 0, Qt::DashLine));
            for (const double line : lane.phrases) {
                const double i = lane.IndexOf(line, spi);
                if (i < from || i > to) continue;
                p.drawLine(QPointF(at(line), box.top()), QPointF(at(line), box.bottom()));
            }
        }
        if (lane.mark >= 0) {
            const double i = lane.IndexOf(lane.mark, spi);
            if (i >= axis_->min() && i <= axis_->max()) {
                const double x = at(lane.mark);
                p.setPen(QPen(n == 0 ? kOutgoingText : kIncomingText, 2));
                p.drawLine(QPointF(x, box.top()), QPointF(x, box.bottom()));
                const QString text = n == 0 ? QStringLiteral("last sound") : QStringLiteral("first bar");
                p.drawText(QPointF(n == 0 ? x - 60 : x + 4, box.top() + 28), text);
            }
        }
    }
};

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
    BuildTracksRows(main);
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

    AddTrackAxes(page);

    auto* view = new QChartView(chart);
    view->setObjectName(QStringLiteral("Chart%1").arg(page));
    view->viewport()->installEventFilter(this);
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
    RenderTracks(force);
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

// ---- the tracks shown

void TMixEditor::BuildTracksRows(QVBoxLayout* main) {
    NextChange = new QLabel;
    NextChange->setObjectName(QStringLiteral("NextChange"));
    NextChange->setWordWrap(true);
    NextChange->setTextFormat(Qt::RichText);
    Listen = new QPushButton(QStringLiteral("Listen"));
    Listen->setObjectName(QStringLiteral("Listen"));
    Listen->setFixedWidth(90);
    connect(Listen, &QPushButton::clicked, this, [this] {
        editor.ListenClick();
        Render();
    });
    auto* top = new QHBoxLayout;
    top->addWidget(NextChange, 1);
    top->addWidget(Listen);

    Legend = new QLabel;
    Legend->setObjectName(QStringLiteral("Legend"));
    Legend->setTextFormat(Qt::RichText);
    const auto swatch = [](const QColor& c, const char* name) {
        return QStringLiteral("<span style=\"color:%1\">&#9632;</span>&nbsp;%2&nbsp;&nbsp;&nbsp;")
            .arg(c.name(), QString::fromLatin1(name));
    };
    Legend->setText(swatch(CurveColour(1), "outgoing") + swatch(CurveColour(2), "incoming") +
                    swatch(kVolumeSumColour, "combined level"));
    auto* pointLabel = new QLabel(QStringLiteral("Point:"));
    PointTime = new QDoubleSpinBox;
    PointTime->setObjectName(QStringLiteral("PointTime"));
    PointTime->setSuffix(QStringLiteral(" s"));
    PointTime->setDecimals(2);
    PointTime->setSingleStep(0.1);
    PointTime->setKeyboardTracking(false);
    PointValue = new PointSpin;
    PointValue->setObjectName(QStringLiteral("PointValue"));
    PointValue->setKeyboardTracking(false);
    for (QDoubleSpinBox* box : {PointTime, PointValue}) {
        box->setFixedWidth(92);
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { PointEdited(); });
    }
    static const char* const kShapes[3] = {"Linear", "Equal power", "Cut"};
    auto* row = new QHBoxLayout;
    row->addWidget(Legend);
    row->addStretch(1);
    row->addWidget(pointLabel);
    row->addWidget(PointTime);
    row->addWidget(PointValue);
    row->addSpacing(10);
    for (int n = 0; n < 3; ++n) {
        ShapeButton[n] = new QPushButton(QString::fromLatin1(kShapes[n]));
        ShapeButton[n]->setObjectName(QStringLiteral("Shape%1").arg(n + 1));
        ShapeButton[n]->setToolTip(QStringLiteral("The volume curves' fade as this shape"));
        connect(ShapeButton[n], &QPushButton::clicked, this, [this, n] {
            editor.ApplyShape(static_cast<EnvelopeEditor::Shape>(n));
            Render();
        });
        row->addWidget(ShapeButton[n]);
    }
    ResetButton = new QPushButton(QStringLiteral("Defaults"));
    ResetButton->setObjectName(QStringLiteral("ResetButton"));
    connect(ResetButton, &QPushButton::clicked, this, [this] {
        editor.ResetToDefaults();
        Render();
    });
    row->addWidget(ResetButton);

    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("TracksRows"));
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(2);
    rows->addLayout(top);
    rows->addLayout(row);
    box->hide();
    main->addWidget(box);
}

void TMixEditor::AddTrackAxes(int page) {
    QChart* chart = Chart[page];
    const auto add = [chart](QCategoryAxis*& axis, Qt::Alignment side) {
        axis = new QCategoryAxis;
        axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        axis->setGridLineColor(QColor(70, 70, 70));
        axis->setVisible(false);
        chart->addAxis(axis, side);
    };
    add(SecondsAxis[page], Qt::AlignBottom);
    add(BarsAxis[page], Qt::AlignTop);
    BarsAxis[page]->setGridLineVisible(false);
    if (page <= 2) {
        add(UnitAxis[page], Qt::AlignLeft);
        UnitAxis[page]->setRange(AxisY[page]->min(), AxisY[page]->max());
        UnitAxis[page]->setReverse(AxisY[page]->isReverse());
        if (page == 1) {
            for (int db = -100; db <= 0; db += 20) UnitAxis[1]->append(QStringLiteral("%1 dB").arg(db), db * 100);
        } else {
            UnitAxis[2]->append(QStringLiteral("100% L"), -10000);
            UnitAxis[2]->append(QStringLiteral("50% L"), -5000);
            UnitAxis[2]->append(QStringLiteral("centre"), 0);
            UnitAxis[2]->append(QStringLiteral("50% R"), 5000);
            UnitAxis[2]->append(QStringLiteral("100% R"), 10000);
        }
    }
    auto* lanes = new TrackLanes(chart, editor, AxisX[page]);
    Lanes[page] = lanes;
    lanes->setVisible(false);
    connect(chart, &QChart::plotAreaChanged, this, [lanes] { lanes->Changed(); });
}

void TMixEditor::RenderTracks(bool force) {
    const bool on = editor.showTracks;
    const bool modeChanged = force || findChild<QWidget*>(QStringLiteral("TracksRows"))->isVisible() != on ||
                             AxisX[1]->isVisible() == on;
    if (modeChanged) {
        findChild<QWidget*>(QStringLiteral("TracksRows"))->setVisible(on);
        for (int page = 1; page <= 3; ++page) {
            AxisX[page]->setVisible(!on);
            SecondsAxis[page]->setVisible(on);
            if (page <= 2) {
                AxisY[page]->setVisible(!on);
                UnitAxis[page]->setVisible(on);
            }
            Lanes[page]->setVisible(on);
        }
        // The rate page around 100 %, at a scale its rates can be told apart on.
        AxisY[3]->setLabelFormat(on ? QStringLiteral("%d %%") : QStringLiteral("%d"));
        if (!on) {
            AxisY[3]->setRange(-5, 205);
            AxisY[3]->setTickInterval(50);
        }
        setFixedSize(on ? kTracksSize : kPlainSize);
    }
    if (!on) return;
    const int length = editor.Charts[1].axisMax;
    if (modeChanged || renderedMix_ != editor.mixRevision || renderedLength_ != length) {
        renderedMix_ = editor.mixRevision;
        renderedLength_ = length;
        RenderUnitAxes();
        for (int page = 1; page <= 3; ++page) static_cast<TrackLanes*>(Lanes[page])->Changed();
        const EnvelopeEditor::MixView& mix = editor.mix;
        QString text = QStringLiteral("<b>%1</b>").arg(QString::fromStdString(mix.nextChange).toHtmlEscaped());
        if (!mix.why.empty()) text += QStringLiteral("<br>") + QString::fromStdString(mix.why).toHtmlEscaped();
        if (NextChange->text() != text) NextChange->setText(text);
        Listen->setEnabled(mix.nextExists);
    }
    if (modeChanged || renderedPlayhead_ != editor.playhead) {
        renderedPlayhead_ = editor.playhead;
        for (int page = 1; page <= 3; ++page) Lanes[page]->update();
    }
    // The rates of this mix, some 10 % either side of 100 or what they need beyond.
    double reach = 10;
    for (const EnvelopeEditor::ChartPoint& p : editor.Series[10])
        reach = std::max(reach, std::ceil(std::abs(p.y - 100) / 5.0) * 5 + 5);
    if (AxisY[3]->max() != 100 + reach) {
        AxisY[3]->setRange(100 - reach, 100 + reach);
        AxisY[3]->setTickInterval(reach / 2);
    }
    ResetButton->setEnabled(!editor.mixRunning);
    RenderPoint();
}

namespace {

// A step between labels that gives a chart some ten of them.
double LabelStep(double span, std::initializer_list<double> steps) {
    for (const double step : steps)
        if (span / step <= 10) return step;
    return *(steps.end() - 1);
}

// Each change of a category axis lays its chart out anew: only what differs is touched.
void Relabel(QCategoryAxis* axis, const QList<QPair<QString, double>>& labels, double min, double max) {
    const QStringList now = axis->categoriesLabels();
    bool same = now.size() == labels.size();
    for (qsizetype n = 0; same && n < now.size(); ++n)
        same = now[n] == labels[n].first && axis->endValue(now[n]) == labels[n].second;
    if (!same) {
        for (const QString& label : now) axis->remove(label);
        for (const auto& [label, at] : labels) axis->append(label, at);
    }
    if (axis->min() != min || axis->max() != max) axis->setRange(min, max);
}

}  // namespace

void TMixEditor::RenderUnitAxes() {
    const EnvelopeEditor::MixView& mix = editor.mix;
    const int length = editor.Charts[1].axisMax;
    const double spi = mix.secondsPerIndex > 0 ? mix.secondsPerIndex : 0.1;
    const double seconds = length * spi;
    const double step = LabelStep(seconds, {0.5, 1, 2, 5, 10, 15, 30, 60});
    QList<QPair<QString, double>> labels;
    for (double t = 0; t <= seconds + 1e-9; t += step) labels.append({QStringLiteral("%1 s").arg(t), t / spi});
    QList<QPair<QString, double>> bars;
    if (mix.barIndex > 0) {
        const int count = static_cast<int>(length / mix.barIndex + 1e-6);
        const int every = count <= 16 ? 1 : count <= 32 ? 2 : 4;
        for (int b = 0; b < count; b += every)
            bars.append({b == 0 ? QStringLiteral("bar 1") : QString::number(b + 1), b * mix.barIndex});
    }
    for (int page = 1; page <= 3; ++page) {
        Relabel(SecondsAxis[page], labels, 0, length);
        Relabel(BarsAxis[page], bars, 0, length);
        BarsAxis[page]->setVisible(!bars.isEmpty());
    }
}

// The numbers show the key point under the cursor of the curve last taken by the mouse.
void TMixEditor::RenderPoint() {
    const int page = editor.activePage + 1;
    if (page == 3) selectedBar = 0;
    else if (selectedBar < kFirstOfPage[page] || selectedBar > kFirstOfPage[page] + 1) selectedBar = kFirstOfPage[page];
    const bool editable = selectedBar > 0 && editor.ScrollBar[selectedBar].enabled;
    const double spi = editor.mix.secondsPerIndex > 0 ? editor.mix.secondsPerIndex : 0.1;
    const QSignalBlocker a(PointTime), b(PointValue);
    PointTime->setEnabled(editable);
    PointValue->setEnabled(editable);
    if (PointTime->maximum() != editor.Charts[1].axisMax * spi) PointTime->setRange(0, editor.Charts[1].axisMax * spi);
    PointTime->setValue(editor.editorCursor * spi);
    const bool volume = selectedBar <= 4;
    // Each setting restyles or relays the box: only what changed.
    if (PointValue->suffix().isEmpty() == volume) {
        static_cast<PointSpin*>(PointValue)->balance = !volume;
        PointValue->setSuffix(volume ? QStringLiteral(" dB") : QString());
        PointValue->setRange(-100, volume ? 0 : 100);
        PointValue->setDecimals(volume ? 0 : 1);
    }
    if (selectedBar > 0) {
        const int position = editor.ScrollBar[selectedBar].position;
        PointValue->setValue(volume ? -position : position / 100.0);
    }
    const QString style = QStringLiteral("QDoubleSpinBox { color: %1; background: #181818; }")
                              .arg(CurveColour(std::max(1, selectedBar)).name());
    if (PointValue->styleSheet() != style) PointValue->setStyleSheet(style);
}

void TMixEditor::PointEdited() {
    if (selectedBar <= 0 || !editor.ScrollBar[selectedBar].enabled) return;
    const double spi = editor.mix.secondsPerIndex > 0 ? editor.mix.secondsPerIndex : 0.1;
    const int to = static_cast<int>(std::lround(PointTime->value() / spi));
    const int value = static_cast<int>(std::lround(PointValue->value() * 100));
    editor.DragKey(selectedBar, editor.editorCursor, to, value);
    Render();
}

QPointF TMixEditor::PositionOf(int series, QPointF point) const {
    const int page = series <= 4 ? 1 : series <= 8 ? 2 : 3;
    return ChartView[page]->mapFromScene(Chart[page]->mapToScene(Chart[page]->mapToPosition(point, Series[series])));
}

QPointF TMixEditor::PointAt(int series, QPointF position) const {
    const int page = series <= 4 ? 1 : series <= 8 ? 2 : 3;
    return Chart[page]->mapToValue(Chart[page]->mapFromScene(ChartView[page]->mapToScene(position.toPoint())),
                                   Series[series]);
}

bool TMixEditor::eventFilter(QObject* watched, QEvent* event) {
    for (int page = 1; page <= 2; ++page)
        if (ChartView[page] && watched == ChartView[page]->viewport()) return ChartMouse(page, event);
    return QWidget::eventFilter(watched, event);
}

// With the tracks shown a key point is taken with the mouse and moved; a press on a curve
// away from its keys makes a key there; the right button takes a key off, as "De" does.
bool TMixEditor::ChartMouse(int page, QEvent* event) {
    if (!editor.showTracks) return false;
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPointF at = mouse->position();
    if (type == QEvent::MouseButtonRelease) {
        const bool dragging = drag_.page != 0;
        drag_ = {};
        return dragging;
    }
    if (type == QEvent::MouseMove) {
        if (drag_.page != page) return false;
        const QPointF value = PointAt(drag_.bar, at);
        editor.DragKey(drag_.bar, drag_.index, static_cast<int>(std::lround(value.x())),
                       static_cast<int>(std::lround(value.y())));
        drag_.index = editor.editorCursor;
        Render();
        return true;
    }
    // A press: the nearest key point within reach, else the nearest curve within reach.
    constexpr double kReach = 9;
    int bestBar = 0, bestIndex = 0;
    double best = kReach;
    for (const int bar : {kFirstOfPage[page], kFirstOfPage[page] + 1})
        for (const EnvelopeEditor::ChartPoint& p : editor.Series[bar]) {
            const double d = QLineF(PositionOf(bar, QPointF(p.x, p.y)), at).length();
            if (d < best) best = d, bestBar = bar, bestIndex = p.x;
        }
    if (bestBar == 0 && mouse->button() == Qt::LeftButton) {
        for (const int bar : {kFirstOfPage[page], kFirstOfPage[page] + 1}) {
            const QPointF value = PointAt(bar, at);
            const int index = static_cast<int>(std::lround(value.x()));
            if (index < 0 || index > editor.Charts[page].axisMax) continue;
            const int curve = bar - kFirstOfPage[page];
            const Quantity q = page == 1 ? Quantity::Volume : Quantity::Balance;
            const int y = editor.CurveValue(q, curve, index);
            const double d = std::abs(PositionOf(bar, QPointF(index, y)).y() - at.y());
            if (d < best) best = d, bestBar = bar, bestIndex = index;
        }
    }
    if (bestBar == 0) return false;
    selectedBar = bestBar;
    editor.ScrollBarChange(13, bestIndex);
    if (mouse->button() == Qt::RightButton) {
        if (editor.SpeedButton[bestBar].down) editor.SpeedButtonClick(bestBar);
        Render();
        return true;
    }
    if (!editor.SpeedButton[bestBar].down) editor.SpeedButtonClick(bestBar);
    drag_ = {page, bestBar, bestIndex};
    Render();
    return true;
}

}  // namespace quendo
