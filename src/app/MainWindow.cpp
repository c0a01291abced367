#include "app/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>
#include <QSignalBlocker>

#include "platform/qt/QtPlatform.h"

namespace quendo {

namespace {

QColor ToQColor(Colour c, const QPalette& palette) {
    switch (c) {
        case Colour::Green: return QColor(0, 128, 0);
        case Colour::Aqua: return QColor(0, 255, 255);
        case Colour::Yellow: return QColor(255, 255, 0);
        case Colour::WindowText: break;
    }
    return palette.color(QPalette::WindowText);
}

QLabel* TimeDisplay(QWidget* parent, int x, int y, int w, int h) {
    auto* label = new QLabel(QStringLiteral(":"), parent);
    label->setGeometry(x, y, w, h);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setStyleSheet(QStringLiteral(
        "QLabel { background: black; color: lime; font-weight: bold; font-size: 19px; "
        "border: 1px inset gray; padding-top: 3px; }"));
    return label;
}

QPushButton* StripButton(QWidget* parent, const char* caption, int x, int y, bool checkable) {
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setGeometry(x, y, 52, 14);
    button->setCheckable(checkable);
    button->setFocusPolicy(Qt::NoFocus);
    QFont f(QStringLiteral("Arial"));
    f.setBold(true);
    f.setPixelSize(10);
    button->setFont(f);
    return button;
}

// The list's current item only says where the keyboard is; drawn, it would look like a choice
// that an insertion goes to. Only the selection is shown.
class SelectionOnlyDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
    }
};

void SetCaptionColour(QPushButton* b, QColor c) {
    b->setStyleSheet(QStringLiteral("QPushButton { color: %1; padding: 0px; } QPushButton:disabled { color: #a0a0a0; }")
                         .arg(c.name()));
}

}  // namespace

GlyphButton::GlyphButton(Glyph glyph, QWidget* parent) : QAbstractButton(parent), glyph_(glyph) {
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
}

void GlyphButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect();
    const bool sunk = isDown() || isChecked();
    // A raised or sunken bevel, like the other buttons of the strip.
    p.fillRect(r, palette().button());
    p.setPen(sunk ? palette().color(QPalette::Dark) : palette().color(QPalette::Light));
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(sunk ? palette().color(QPalette::Light) : palette().color(QPalette::Shadow));
    p.drawLine(r.bottomLeft() + QPointF(0, -0.5), r.bottomRight() + QPointF(0, -0.5));
    p.drawLine(r.topRight() + QPointF(-0.5, 0), r.bottomRight() + QPointF(-0.5, 0));

    QColor fill = QColor(150, 150, 150);
    if (isDown()) fill = QColor(255, 220, 0);
    else if (isChecked()) fill = QColor(0, 190, 0);
    if (!isEnabled()) fill = fill.lighter(150);

    const QPointF c = r.center() + (sunk ? QPointF(1, 1) : QPointF(0, 0));
    QPainterPath tri;
    if (glyph_ == Glyph::Up) {
        tri.moveTo(c.x(), c.y() - 8);
        tri.lineTo(c.x() + 9, c.y() + 6);
        tri.lineTo(c.x() - 9, c.y() + 6);
    } else {
        tri.moveTo(c.x() + 8, c.y());
        tri.lineTo(c.x() - 6, c.y() + 9);
        tri.lineTo(c.x() - 6, c.y() - 9);
    }
    tri.closeSubpath();
    p.setPen(QPen(fill.darker(160), 1));
    p.setBrush(fill);
    p.drawPath(tri);
}

TForm1::TForm1(Core& c, QWidget* parent) : QWidget(parent), core(c) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quendo"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(272, 282);
    // The platform's sans-serif at the size the layout was drawn for.
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);

    StaticText1 = TimeDisplay(this, 0, -4, 104, 23);
    StaticText2 = TimeDisplay(this, 168, -4, 52, 23);
    StaticText3 = TimeDisplay(this, 220, -4, 52, 23);
    StaticText1->setObjectName("StaticText1");
    StaticText2->setObjectName("StaticText2");
    StaticText3->setObjectName("StaticText3");

    UP = new GlyphButton(GlyphButton::Glyph::Up, this);
    UP->setObjectName("UP");
    UP->setGeometry(104, 0, 32, 33);
    Play = new GlyphButton(GlyphButton::Glyph::Right, this);
    Play->setObjectName("Play");
    Play->setGeometry(136, 0, 32, 33);

    Shuffle = StripButton(this, "Shuffle", 0, 19, true);
    Shuffle->setObjectName("Shuffle");
    Repeat = StripButton(this, "Repeat", 52, 19, true);
    Repeat->setObjectName("Repeat");
    Mix_OFF = StripButton(this, "MixOFF", 168, 19, true);
    Mix_OFF->setObjectName("Mix_OFF");
    Next = StripButton(this, "Next", 220, 19, false);
    Next->setObjectName("Next");
    Next->setStyleSheet(QStringLiteral("QPushButton { color: #800000; padding: 0px; } QPushButton:disabled { color: #a0a0a0; }"));

    CGauge1 = new QProgressBar(this);
    CGauge1->setObjectName("CGauge1");
    CGauge1->setGeometry(0, 33, 273, 16);
    CGauge1->setTextVisible(false);
    CGauge1->setRange(0, 100);
    CGauge1->setValue(0);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(0, 34, 273, 14);
    Label1->setAttribute(Qt::WA_TranslucentBackground);
    QFont titleFont = Label1->font();
    titleFont.setBold(true);
    titleFont.setPixelSize(12);
    Label1->setFont(titleFont);
    Label1->installEventFilter(this);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setGeometry(0, 48, 273, 201);
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setItemDelegate(new SelectionOnlyDelegate(ListBox1));
    ListBox1->viewport()->installEventFilter(this);

    Label10 = new QLabel(QStringLiteral("Musical cocktail:"), this);
    Label10->setObjectName("Label10");
    QFont small = Label10->font();
    small.setPixelSize(10);
    Label10->setFont(small);
    Label10->move(4, 253);
    Label10->adjustSize();
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->setGeometry(88, 249, 185, 21);
    ComboBox1->setEditable(false);

    Label3 = new QLabel(QStringLiteral("Available:"), this);
    Label3->setObjectName("Label3");
    Label3->setGeometry(0, 270, 57, 13);
    Label3->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label6 = new QLabel(this);
    Label6->setObjectName("Label6");
    Label6->setGeometry(92, 270, 89, 13);
    Label7 = new QLabel(this);
    Label7->setObjectName("Label7");
    Label7->setGeometry(180, 270, 93, 13);

    Timer1 = new QTimer(this);
    Timer1->setInterval(100);
    Timer2 = new QTimer(this);
    Timer2->setInterval(200);
    Timer2->setSingleShot(true);
    Timer3 = new QTimer(this);
    Timer3->setInterval(Core::kPlaylistSaveDelayMs);
    Timer3->setSingleShot(true);

    // Toggle buttons: Qt has toggled the state before clicked(), as the handlers expect.
    connect(UP, &QAbstractButton::clicked, this, [this] {
        Act([this] { core.buttons.UP = UP->isChecked(); core.UPClick(); });
    });
    connect(Play, &QAbstractButton::clicked, this, [this] {
        Act([this] { core.buttons.Play = Play->isChecked(); core.PlayClick(); });
    });
    connect(Shuffle, &QAbstractButton::clicked, this, [this] {
        Act([this] { core.buttons.Shuffle = Shuffle->isChecked(); core.ShuffleClick(); });
    });
    connect(Repeat, &QAbstractButton::clicked, this, [this] {
        Act([this] { core.buttons.Repeat = Repeat->isChecked(); core.RepeatClick(); });
    });
    connect(Mix_OFF, &QAbstractButton::clicked, this, [this] {
        Act([this] { core.buttons.Mix_OFF = Mix_OFF->isChecked(); core.Mix_OFFClick(); });
    });
    connect(Next, &QAbstractButton::clicked, this, [this] { Act([this] { core.NextClick(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { Act([this] { core.Timer1Timer(); }); });
    connect(Timer2, &QTimer::timeout, this, [this] { Act([this] { core.Timer2Timer(); }); });
    connect(Timer3, &QTimer::timeout, this, [this] { Act([this] { core.Timer3Timer(); }); });
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] {
        for (int i = 0; i < ListBox1->count() && i < core.playlist.Count(); ++i)
            core.playlist.SetSelected(i, ListBox1->item(i)->isSelected());
    });
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        Act([this, index] { core.ComboBox1Change(index); });
    });

    // Key preview: the window sees every key before the focused control, which still gets it.
    qApp->installEventFilter(this);
    Render();
}

void TForm1::Act(const std::function<void()>& handler) {
    Guarded(handler);
    Render();
}

void TForm1::RenderPlaylist() {
    const Playlist& pl = core.playlist;
    if (pl.ListBox1() != shownItems_) {
        ListBox1->clear();
        for (const std::string& text : pl.ListBox1()) ListBox1->addItem(QString::fromStdString(text));
        shownItems_ = pl.ListBox1();
    }
    for (int i = 0; i < ListBox1->count() && i < pl.Count(); ++i) ListBox1->item(i)->setSelected(pl.Selected(i));
}

void TForm1::Render() {
    // What the render sets is the core's state already: the controls report none of it.
    const QSignalBlocker quietList(ListBox1);
    const QSignalBlocker quietCombo(ComboBox1);
    const MainDisplay& d = core.display;
    StaticText1->setText(QString::fromStdString(d.StaticText1));
    StaticText2->setText(QString::fromStdString(d.StaticText2));
    StaticText3->setText(QString::fromStdString(d.StaticText3));
    // An artist and title too long for the strip end in an ellipsis, so that it shows they go on
    // (the hint has the path); a path is cut where the strip ends, as it always was.
    QString title = QString::fromStdString(d.Label1Caption);
    if (d.Label1Caption != d.Label1Hint)
        title = Label1->fontMetrics().elidedText(title, Qt::ElideRight, Label1->width());
    Label1->setText(title);
    Label1->setToolTip(QString::fromStdString(d.Label1Hint));
    CGauge1->setRange(0, std::max(0, d.CGauge1Max));
    CGauge1->setValue(std::clamp(d.CGauge1Progress, 0, std::max(0, d.CGauge1Max)));
    CGauge1->setStyleSheet(QStringLiteral(
        "QProgressBar { border: 1px solid #808080; background: palette(window); }"
        "QProgressBar::chunk { background: %1; }").arg(ToQColor(d.CGauge1Colour, palette()).name()));
    Label6->setText(QString::fromStdString(d.Label6));
    Label7->setText(QString::fromStdString(d.Label7));

    UP->setChecked(core.buttons.UP);
    Play->setChecked(core.buttons.Play);
    Shuffle->setChecked(core.buttons.Shuffle);
    Repeat->setChecked(core.buttons.Repeat);
    Mix_OFF->setChecked(core.buttons.Mix_OFF);
    Shuffle->setEnabled(d.ShuffleEnabled);
    Next->setEnabled(d.NextEnabled);
    Mix_OFF->setEnabled(d.MixOffEnabled);
    SetCaptionColour(Repeat, ToQColor(d.RepeatCaptionColour, palette()));
    SetCaptionColour(Shuffle, ToQColor(d.ShuffleCaptionColour, palette()));

    QStringList names;
    for (const std::string& n : d.ComboBox1Items) names << QString::fromStdString(n);
    QStringList current;
    for (int i = 0; i < ComboBox1->count(); ++i) current << ComboBox1->itemText(i);
    if (names != current) {
        ComboBox1->clear();
        ComboBox1->addItems(names);
    }
    if (ComboBox1->currentIndex() != d.ComboBox1ItemIndex) ComboBox1->setCurrentIndex(d.ComboBox1ItemIndex);

    RenderPlaylist();

    // The core's flags own the timers; this is the one place that starts and stops them.
    const bool timer1 = core.deck.Timer1Enabled() && !core.Closing();
    if (timer1 != Timer1->isActive()) timer1 ? Timer1->start() : Timer1->stop();
    const bool timer2 = core.commands.Timer2Enabled();
    if (timer2 != Timer2->isActive()) timer2 ? Timer2->start() : Timer2->stop();
    // Started by the first change and left running by the next ones, so that they go in one write.
    if (core.PlaylistSaveDue() && !Timer3->isActive()) Timer3->start();
    emit rendered();
}

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (shown_) return;
    shown_ = true;
    // The start-up sequence runs once the window is on the screen.
    QTimer::singleShot(0, this, [this] { Act([this] { core.FormShow(); }); });
}

void TForm1::closeEvent(QCloseEvent* e) {
    Guarded([this] { core.CloseRequest(); });
    e->accept();
    // The other forms serve this one: an open one, even a modal one, must not keep the program alive.
    EndEventLoops();
}

void TForm1::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) Guarded([this] { core.FormActivate(); });
}

void TForm1::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::RightButton && openMainPopup) openMainPopup(e->globalPosition().toPoint());
    QWidget::mousePressEvent(e);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && isActiveWindow() && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) Act([this, key] { core.FormKeyDown(key); });
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::RightButton && (watched == Label1 || watched == ListBox1->viewport())) {
            if (openMainPopup) openMainPopup(me->globalPosition().toPoint());
            // The popup's commands work on the selection the user made, so the press keeps it.
            return true;
        }
        if (me->button() == Qt::LeftButton && watched == Label1) {
            const int x = static_cast<int>(me->position().x());
            Act([this, x] { core.Label1Seek(x, Label1->width()); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace quendo
