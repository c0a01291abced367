#include <QApplication>
#include <QEvent>
#include <QScrollBar>
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

}  // namespace

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("mix_editor_show_ms") && !figures.Wants("mix_editor_length_step_ms")) return 0;
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
    return 0;
}
