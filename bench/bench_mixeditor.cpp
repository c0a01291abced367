#include <algorithm>
#include <memory>

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTabWidget>
#include <QtCharts/QChartView>

#include "BenchUtil.h"
#include "playback/Mixedit.h"

namespace {

// Counts the paints of the charts, so a figure is known to run through to the repaint.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// Runs the queued work: the charts' layout, the scene's update and the window's paint.
void Flush() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

// Five minutes of a track's outline, as the analysis keeps it: a few hundred points a second in
// three bands, a kick every half second in the bass and busier highs.
std::shared_ptr<const quendo::TrackWave> FiveMinutes(unsigned seed) {
    using quendo::TrackWave;
    auto wave = std::make_shared<TrackWave>();
    wave->pointSeconds = 1.0 / 200;
    const std::size_t points = 5 * 60 * 200;
    for (int band = 0; band < TrackWave::kBands; ++band) {
        auto& v = wave->points[band];
        v.resize(points);
        for (std::size_t i = 0; i < points; ++i) {
            seed = seed * 1103515245u + 12345u;
            const int beat = band == 0 ? (i % 100 < 15 ? 20 : 0) : 0;
            v[i] = static_cast<std::uint8_t>(std::min<int>(TrackWave::kTop, 28 + beat + static_cast<int>(seed >> 27) - 6 * band));
        }
    }
    return wave;
}

// A mix on the beat of 16 bars at 126 BPM, the outgoing track's end over the incoming one's start.
quendo::EnvelopeEditor::MixView BeatMixView(const std::string& name) {
    quendo::EnvelopeEditor::MixView view;
    const double bar = 4 * 60 / 126.0, length = 16 * bar;
    view.secondsPerIndex = length / 1000;
    view.barIndex = bar / view.secondsPerIndex;
    for (int n = 0; n <= 16; n += 8) view.phraseLines.push_back(n * view.barIndex);
    view.bassSwap = 8 * view.barIndex;
    for (int n = 0; n < 2; ++n) {
        auto& lane = view.lanes[n];
        lane.name = name + (n == 0 ? " out" : " in");
        lane.wave = FiveMinutes(7 + n);
        lane.fileAtZero = n == 0 ? 260 : -4 * bar;
        lane.from = n == 0 ? 0 : 4 * view.barIndex;
        lane.to = 1000;
        lane.beats = {126, 0.1, 60 / 126.0, 0};
        lane.mark = n == 0 ? 290 : 0.1;
        lane.shown = true;
    }
    view.nextChange = "Mix on the beat over 16 bars";
    view.nextExists = true;
    return view;
}

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("mix_editor_show_ms") && !figures.Wants("mix_editor_length_step_ms") &&
        !figures.Wants("mix_editor_paint_ms") && !figures.Wants("mix_editor_drag_ms"))
        return 0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qargc = 1;
    QApplication app(qargc, argv);

    using quendo::Quantity;
    quendo::MixEnvelope env;
    quendo::EnvelopeEditor editor(env);
    quendo::TMixEditor form(editor);
    PaintCounter counter;
    for (int page : {1, 2}) form.ChartView[page]->viewport()->installEventFilter(&counter);

    // A long mix with key points on all four visible curves.
    form.show();
    Flush();
    form.ScrollBar[15]->setValue(1000);
    form.ScrollBar[14]->setValue(1000);
    for (int i = 50; i < 1000; i += 50) {
        for (Quantity q : {Quantity::Volume, Quantity::Balance})
            for (int curve : {0, 1}) {
                env.InsertKeyPoint(q, curve, i);
                env.SetKeyPointValue(q, curve, i, q == Quantity::Volume ? -(i * 7 % 10000) : (i * 13 % 20000) - 10000);
            }
    }
    // As the program opens it: with the tracks under the curves, both five minutes long.
    editor.ShowTracks(true);
    const auto view = BeatMixView("A"), other = BeatMixView("B");
    editor.ShowMix(view);
    form.hide();
    Flush();

    if (figures.Wants("mix_editor_show_ms")) {
        const int paintsBefore = counter.paints;
        const double seconds = bench::MedianSeconds(21, [&] {
            form.show();  // resynchronises the bars and redraws every series
            Flush();
            form.hide();
        });
        if (counter.paints - paintsBefore < 21)
            std::fprintf(stderr, "bench_mixeditor: %d paints for 21 showings\n", counter.paints - paintsBefore);
        figures.Print("mix_editor_show_ms", seconds * 1e3, "ms");
    }

    if (figures.Wants("mix_editor_length_step_ms")) {
        form.show();
        Flush();
        form.ScrollBar[13]->setValue(500);
        form.ScrollBar[15]->setValue(990);
        Flush();
        int step = 0;
        const int paintsBefore = counter.paints;
        // Down and up again, as a drag back and forth does: down also pulls the finishing position.
        const double seconds = bench::MedianSeconds(101, [&] {
            form.ScrollBar[15]->setValue(++step % 2 ? 989 : 990);
            Flush();
        });
        if (counter.paints - paintsBefore < step)
            std::fprintf(stderr, "bench_mixeditor: %d paints for %d steps\n", counter.paints - paintsBefore, step);
        figures.Print("mix_editor_length_step_ms", seconds * 1e3, "ms");
    }
    if (figures.Wants("mix_editor_paint_ms") || figures.Wants("mix_editor_drag_ms")) {
        form.show();
        form.PageControl1->setCurrentIndex(0);
        Flush();
        QWidget* viewport = form.ChartView[1]->viewport();
        if (figures.Wants("mix_editor_paint_ms")) {
            // Another pair of tracks each time, so that the waves, grids and curves are all drawn anew.
            int n = 0;
            const double seconds = bench::MedianSeconds(51, [&] {
                editor.ShowMix(++n % 2 ? other : view);
                form.Render();
                viewport->repaint();
            });
            figures.Print("mix_editor_paint_ms", seconds * 1e3, "ms");
        }
        if (figures.Wants("mix_editor_drag_ms")) {
            // A key of the outgoing volume taken with the mouse and moved up and down.
            const auto send = [&](QEvent::Type type, QPointF at) {
                QMouseEvent e(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(viewport, &e);
            };
            const QPointF key = form.PositionOf(1, QPointF(500, env.Value(Quantity::Volume, 0, 500)));
            send(QEvent::MouseButtonPress, key);
            int step = 0;
            const int paintsBefore = counter.paints;
            const double seconds = bench::MedianSeconds(101, [&] {
                send(QEvent::MouseMove, form.PositionOf(1, QPointF(500, ++step % 2 ? -2000 : -4000)));
                viewport->repaint();
            });
            send(QEvent::MouseButtonRelease, key);
            if (env.Value(Quantity::Volume, 0, 500) > -2000 || counter.paints - paintsBefore < step)
                std::fprintf(stderr, "bench_mixeditor: the drag did not reach the envelope or the screen\n");
            figures.Print("mix_editor_drag_ms", seconds * 1e3, "ms");
        }
    }
    return 0;
}
