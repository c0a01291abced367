#include "settings/Welcom.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>

#include "platform/qt/FixedWindow.h"
#include "platform/qt/FitText.h"

namespace quendo {
namespace {

constexpr QSize kClientSize(300, 331);
const QColor kBannerBlue(0x10, 0x30, 0xc0);

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, const QRect& geometry, const QString& text) {
    auto* m = new QPlainTextEdit(parent);
    m->setObjectName(QString::fromLatin1(name));
    m->setGeometry(geometry);
    m->setPlainText(text);
    m->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab stops as narrow as the old text fields had them, not Qt's 80 pixels.
    m->setTabStopDistance(m->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 8);
    return m;
}

QPushButton* MakeButton(QWidget* parent, const char* name, QStyle::StandardPixmap icon, const QString& caption,
                        const QRect& geometry) {
    auto* b = new QPushButton(parent->style()->standardIcon(icon), caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    return b;
}

}  // namespace

TWelcome::TWelcome(Options& options, std::function<void()> openHelp, std::string version, QWidget* parent)
    : QWidget(parent, kOwnedWindow), options_(options), openHelp_(std::move(openHelp)) {
    setObjectName(QStringLiteral("Welcome"));
    setWindowTitle(QStringLiteral("Welcome to:"));
    setWindowFlags(kOwnedWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientSize);
    // The platform's sans-serif at the size the layout was drawn for.
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 300, 51);
    Image1->setPixmap(DrawBanner(Image1->size()));

    Memo1 = MakeMemo(this, "Memo1", QRect(0, 51, 300, 126), Description(version));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    Memo2 = MakeMemo(this, "Memo2", QRect(0, 178, 300, 121), Notes());
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo2->setFrameShape(QFrame::NoFrame);
    Memo2->document()->setDocumentMargin(2);
    QFont bold = base;
    bold.setBold(true);
    Memo2->setFont(bold);
    ShrinkToFit(Memo2, [this](const QFont& f) {
        const QFontMetrics m(f);
        const qreal room = Memo2->width() - 2 * Memo2->document()->documentMargin() - 2;
        const QStringList lines = Notes().split(QLatin1Char('\n'));
        for (QString line : lines) {
            line.replace(QLatin1Char('\t'), QString(8, QLatin1Char(' ')));
            while (line.endsWith(QLatin1Char(' '))) line.chop(1);  // trailing blanks never wrap
            if (m.horizontalAdvance(line) > room) return false;
        }
        return m.lineSpacing() * lines.size() <= Memo2->height() - 2 * Memo2->document()->documentMargin();
    });
    QPalette notes = Memo2->palette();
    notes.setColor(QPalette::Base, notes.color(QPalette::ToolTipBase));
    notes.setColor(QPalette::Text, notes.color(QPalette::ToolTipText));
    Memo2->setPalette(notes);

    CheckBox1 = new QCheckBox(QStringLiteral("Don't show me this again"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(8, 308, 145, 17);
    ShrinkToFit(CheckBox1, [this](const QFont& f) {
        CheckBox1->setFont(f);
        return CheckBox1->sizeHint().width() <= CheckBox1->width();
    });
    BitBtn2 = MakeButton(this, "BitBtn2", QStyle::SP_TitleBarContextHelpButton, QStringLiteral("Help"), QRect(160, 304, 65, 25));
    BitBtn1 = MakeButton(this, "BitBtn1", QStyle::SP_DialogOkButton, QStringLiteral("OK"), QRect(232, 304, 65, 25));
    BitBtn1->setDefault(true);
    Render();

    connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) { CheckBox1Click(on); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

    // Centred on the screen: the inside of the window, as the window manager adds the frame.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        setGeometry(QRect(area.center() - QPoint(kClientSize.width() / 2, kClientSize.height() / 2), kClientSize));
    }
}

void TWelcome::Render() {
    const QSignalBlocker quiet(CheckBox1);
    CheckBox1->setChecked(options_.CheckBox1);
}

void TWelcome::BitBtn2Click() {
    if (openHelp_) openHelp_();
}

void TWelcome::showEvent(QShowEvent* e) {
    Render();
    QWidget::showEvent(e);
}

void TWelcome::closeEvent(QCloseEvent* e) {
    // The title bar's close box does what OK does; the form lives on to be shown again.
    e->ignore();
    hide();
}

QString TWelcome::Description(const std::string& version) {
    const QString v = QString::fromStdString(version);
    return QStringLiteral(
               "Quendo %1 is a free DJ studio that does the mixing by itself, with a mix editor "
               "fit for professionals and a generator of musical cocktails.\n"
               "\n"
               "Quendo puts compilations of dance music in sequence and mixes them on the computer, "
               "asking little of you: you choose the tracks and, if you wish, change how the mix "
               "is shaped. It searches the hard disk for MP3 files and the other formats it plays "
               "and lists them in a popup menu, from which a right click builds the queue. Then it "
               "carries out complete mixes on its own. It is at home in night-clubs and radio "
               "stations, at parties, and when you make a mixed CD.\n"
               "\n"
               "Thank you very much for using of our software.\n"
               " ")
        .arg(v);
}

QString TWelcome::Notes() {
    return QStringLiteral(
        "\tNote 1:\n"
        " Access to the basic functions of the program you \n"
        " will receive through right-click on the playlist.\n"
        "\tNote 2:\n"
        " Choice of files from the popup menu:\n"
        " 1. By click on a folder, all her contents will be \n"
        "     added in playlist.\n"
        " 2. By click the right mouse button - menu will stay \n"
        "     open.");
}

QPixmap TWelcome::DrawBanner(QSize size) {
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const int w = size.width(), h = size.height();

    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(0xff, 0xff, 0xff));
    sky.setColorAt(1, QColor(0xd6, 0xe2, 0xf4));
    p.fillRect(QRect(0, 0, w, h), sky);

    // The emblem: a disc of blue and white stripes.
    const int d = h - 14;
    const QRectF disc(10, 7, d, d);
    QPainterPath round;
    round.addEllipse(disc);
    p.save();
    p.setClipPath(round);
    p.fillRect(disc, Qt::white);
    const qreal stripe = disc.height() / 7;
    for (int i = 0; i < 7; i += 2)
        p.fillRect(QRectF(disc.left(), disc.top() + i * stripe, disc.width(), stripe), kBannerBlue);
    p.restore();
    p.setPen(QPen(kBannerBlue.darker(150), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(disc);

    // The name, with a soft shadow.
    QFont name(QStringLiteral("sans-serif"));
    name.setStyleHint(QFont::SansSerif);
    name.setPixelSize(36);
    name.setBold(true);
    name.setItalic(true);
    p.setFont(name);
    const QRect text(static_cast<int>(disc.right()) + 12, 0, w, h);
    p.setPen(QColor(0xa8, 0xb4, 0xc8));
    p.drawText(text.translated(2, 2), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quendo"));
    p.setPen(kBannerBlue);
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Quendo"));

    p.setPen(QColor(0x90, 0x9c, 0xb0));
    p.drawLine(0, h - 1, w, h - 1);
    return pixmap;
}

}  // namespace quendo
