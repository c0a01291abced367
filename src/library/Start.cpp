#include "library/Start.h"

#include "Version.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScreen>

#include "model/WebPages.h"
#include "library/StartupSequence.h"
#include "platform/qt/QtPlatform.h"

namespace quendo {
namespace {

constexpr QSize kClientSize(265, 254);
// The window's shape: a disc, minus a small hole near its centre.
const QRect kDisc(5, 5, 258, 247);
const QRect kHole(117, 117, 31, 30);

QRect ScreenArea() {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

void SetTextColour(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    w->setPalette(p);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y, QColor colour,
                  int pixelSize = 0, bool bold = false, bool italic = false) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    QFont f = l->font();
    if (pixelSize > 0) f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setItalic(italic);
    l->setFont(f);
    SetTextColour(l, colour);
    l->adjustSize();
    l->move(x, y);
    return l;
}

// The address as its label shows it: without the scheme.
QString Caption(const char* address) {
    QString s = QString::fromUtf8(address);
    for (const char* scheme : {"https://", "http://"})
        if (s.startsWith(QLatin1String(scheme))) return s.mid(static_cast<int>(std::strlen(scheme)));
    return s;
}

}  // namespace

LinkLabel::LinkLabel(Core& core, const QString& caption, std::string address, QWidget* parent)
    : QLabel(caption, parent), core_(core), address_(std::move(address)) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
    SetColour("#0000ff");
    adjustSize();
}

void LinkLabel::SetColour(const char* colour) { SetTextColour(this, QColor(QLatin1String(colour))); }

void LinkLabel::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    pressed_ = true;
    SetColour("#ff0000");
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !pressed_) return;
    pressed_ = false;
    SetColour("#0000ff");
    Guarded([this] { core_.startup.SplashLinkClick(address_); });
}

TSplash::TSplash(Core& c, QWidget* parent) : QDialog(parent), core(c) {
    setObjectName(QStringLiteral("Splash"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setFixedSize(kClientSize);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);

    setMask(QRegion(kDisc, QRegion::Ellipse).subtracted(QRegion(kHole, QRegion::Ellipse)));
    disc_ = DrawDisc(kClientSize);

    const QColor blue(0, 0, 255);
    Label1 = MakeLabel(this, "Label1", QStringLiteral("Quendo"), 52, 32, blue, 24, true, true);
    Label1->setGeometry(52, 32, 160, 29);
    Label1->setAlignment(Qt::AlignCenter);
    Label2 = MakeLabel(this, "Label2", QStringLiteral("Quendo Team"), 70, 24, blue, 11, true, true);
    Label3 = MakeLabel(this, "Label3", QStringLiteral("FREE"), 184, 116, blue, 19, true);
    Label4 = MakeLabel(this, "Label4", QStringLiteral("Loading ..."), 16, 122, blue, 13, true);
    Label5 = MakeLabel(this, "Label5", QStringLiteral("Automix engine"), 44, 61, QColor(0x20, 0x20, 0x40));
    Label13 = MakeLabel(this, "Label13", QStringLiteral("Cocktail mixer"), 164, 61, QColor(0x20, 0x20, 0x40));

    Comments = new LinkLabel(core, Caption(kProductPage), kProductPage, this);
    Comments->setObjectName(QStringLiteral("Comments"));
    Comments->move(81, 76);

    Label6 = MakeLabel(this, "Label6", QStringLiteral("Visit"), 92, 170, Qt::black);
    Label8 = MakeLabel(this, "Label8", QStringLiteral("for updates:"), 120, 170, Qt::black);
    Label7 = new LinkLabel(core, Caption(kProductPage), kProductPage, this);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->move(68, 184);
    Label9 = MakeLabel(this, "Label9", QStringLiteral("Visit"), 80, 202, Qt::black);
    Label11 = MakeLabel(this, "Label11", QStringLiteral("for other programs:"), 107, 202, Qt::black);
    Label10 = new LinkLabel(core, Caption(kOtherProgramsPage), kOtherProgramsPage, this);
    Label10->setObjectName(QStringLiteral("Label10"));
    // The longest address: a size smaller, and centred, so that it stays on the disc.
    QFont smaller = Label10->font();
    smaller.setPixelSize(10);
    Label10->setFont(smaller);
    Label10->adjustSize();
    Label10->move(std::min(70, (kDisc.left() + kDisc.right() - Label10->width()) / 2), 216);
    Label12 = MakeLabel(this, "Label12", QStringLiteral("v" QUENDO_VERSION " beta"), 184, 136, QColor(0x20, 0x20, 0x20));
    // Fine print across the disc's widest free row, between the address and the hub.
    Label14 = MakeLabel(this, "Label14", QStringLiteral("Free software under the GNU GPL, version 3 or later."), 0,
                        90, QColor(0x20, 0x20, 0x40), 8);
    Label14->move((kDisc.left() + kDisc.right() - Label14->width()) / 2, 90);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(14, 122, 65, 17);
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    Timer2 = new QTimer(this);
    Timer2->setInterval(5);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });

    CentredTop = quendo::CentredTop(ScreenArea().height(), kClientSize.height());
}

void TSplash::ShowStartup() { exec(); }

void TSplash::ShowAbout() {
    Label4->hide();
    Button1->show();
    exec();
}

void TSplash::showEvent(QShowEvent* e) {
    const QRect area = ScreenArea();
    move(area.x() + (area.width() - width()) / 2, area.y() + CentredTop);
    closing_ = false;
    QDialog::showEvent(e);
    // The first showing hosts the start-up sequence; the timer's first tick comes from its loop.
    if (!sequenceRun_) Timer1->start();
}

void TSplash::Timer1Timer() {
    Timer1->stop();
    if (sequenceRun_) return;
    sequenceRun_ = true;
    Guarded([this] { core.startup.RunStartupSequence(); });
    emit startupFinished();
    // An error that stopped the sequence early must not leave the splash up for good.
    if (isVisible() && !Timer2->isActive() && !closing_) CloseSplash();
}

void TSplash::Timer2Timer() {
    const QRect area = ScreenArea();
    const SlideStep step = SlideOutStep(y() - area.y(), area.height(), core.options.chkShowAnimat);
    if (step.close) {
        Timer2->stop();
        Finish();
    } else {
        move(x(), area.y() + step.top);
    }
}

void TSplash::Button1Click() {
    if (!Timer2->isActive()) Timer2->start();
}

void TSplash::CloseSplash() {
    Timer2->stop();
    Finish();
}

void TSplash::Finish() {
    Label4->hide();
    Button1->show();
    closing_ = true;
    accept();
}

void TSplash::keyPressEvent(QKeyEvent* e) {
    // Escape would end the modal showing before the start-up sequence has run.
    if (e->key() == Qt::Key_Escape) return;
    QDialog::keyPressEvent(e);
}

void TSplash::closeEvent(QCloseEvent* e) {
    // A close request from the window manager leaves the way "OK" does, once the sequence is over.
    e->ignore();
    if (sequenceRun_ && !closing_) Button1Click();
}

void TSplash::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.drawPixmap(0, 0, disc_);
}

QPixmap TSplash::DrawDisc(QSize size) {
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    const QPointF centre = QRectF(kDisc).center();
    const double radius = kDisc.width() / 2.0;
    // Drawn as a circle and squeezed to the disc's slightly flatter ellipse.
    p.save();
    p.translate(centre);
    p.scale(1.0, kDisc.height() / static_cast<double>(kDisc.width()));

    QRadialGradient base(QPointF(0, 0), radius);
    base.setColorAt(0.0, QColor(0xfb, 0xfc, 0xfe));
    base.setColorAt(0.45, QColor(0xe9, 0xec, 0xf1));
    base.setColorAt(0.85, QColor(0xd3, 0xd8, 0xe0));
    base.setColorAt(1.0, QColor(0xb4, 0xba, 0xc6));
    p.setPen(Qt::NoPen);
    p.setBrush(base);
    p.drawEllipse(QPointF(0, 0), radius, radius);

    // The rainbow a pressed disc throws back: two faint bands on opposite sides.
    QPainterPath band;
    band.addEllipse(QPointF(0, 0), radius - 2, radius - 2);
    band.addEllipse(QPointF(0, 0), 38, 38);
    band.setFillRule(Qt::OddEvenFill);
    QConicalGradient sheen(QPointF(0, 0), 35);
    const QColor clear(255, 255, 255, 0);
    const struct {
        double at;
        QColor c;
    } stops[] = {{0.00, clear},
                 {0.05, QColor(120, 210, 255, 70)},
                 {0.10, QColor(170, 120, 255, 60)},
                 {0.15, QColor(255, 140, 200, 55)},
                 {0.20, QColor(255, 230, 120, 60)},
                 {0.27, clear},
                 {0.50, clear},
                 {0.55, QColor(120, 210, 255, 60)},
                 {0.60, QColor(170, 255, 170, 55)},
                 {0.65, QColor(255, 230, 120, 55)},
                 {0.70, QColor(255, 140, 200, 50)},
                 {0.77, clear},
                 {1.00, clear}};
    for (const auto& s : stops) sheen.setColorAt(s.at, s.c);
    p.setBrush(sheen);
    p.drawPath(band);

    // Grooves: fine rings of slowly varying depth.
    p.setBrush(Qt::NoBrush);
    for (double r = 40; r < radius - 3; r += 1.6) {
        const int alpha = 10 + static_cast<int>(10 * (1 + std::sin(r * 0.37)));
        p.setPen(QPen(QColor(70, 80, 100, alpha), 0.6));
        p.drawEllipse(QPointF(0, 0), r, r);
    }
    // A soft highlight from the upper left, and the rim.
    QRadialGradient light(QPointF(-radius * 0.35, -radius * 0.45), radius * 0.9);
    light.setColorAt(0.0, QColor(255, 255, 255, 110));
    light.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(light);
    p.drawEllipse(QPointF(0, 0), radius, radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x7c, 0x84, 0x92), 1.4));
    p.drawEllipse(QPointF(0, 0), radius - 0.8, radius - 0.8);
    p.setPen(QPen(QColor(255, 255, 255, 150), 1.0));
    p.drawEllipse(QPointF(0, 0), radius - 3, radius - 3);
    p.restore();

    // The hub around the hole: clear plastic with a stacking ring.
    const QPointF hub = QRectF(kHole).center();
    QRadialGradient plastic(hub, 34);
    plastic.setColorAt(0.0, QColor(0xc2, 0xc8, 0xd2));
    plastic.setColorAt(0.55, QColor(0xdf, 0xe3, 0xea));
    plastic.setColorAt(1.0, QColor(0xf1, 0xf3, 0xf7));
    p.setPen(QPen(QColor(0x9a, 0xa2, 0xb0), 1.0));
    p.setBrush(plastic);
    p.drawEllipse(hub, 34, 33);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x8a, 0x92, 0xa0, 160), 1.0));
    p.drawEllipse(hub, 24, 23.5);
    p.setPen(QPen(QColor(255, 255, 255, 170), 1.0));
    p.drawEllipse(hub, 22.5, 22);
    p.setPen(QPen(QColor(0x6c, 0x74, 0x82), 1.2));
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(kHole));
    return pm;
}

}  // namespace quendo
