#include "cocktail/CocktailPage.h"

#include <algorithm>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QTabBar>
#include <QWheelEvent>

#include "platform/qt/FitText.h"
#include "platform/qt/QtPlatform.h"

namespace quendo {

namespace {

const QColor kGreen(0, 128, 0);
const QColor kMaroon(128, 0, 0);
const char* const kGlassProperty = "glass";

constexpr int kGlassShift = 128;

struct GlassNames {
    const char* body;
    const char* stem;
    const char* foot;
    const char* rim;
    const char* caption;
    const char* folder;
    const char* kind;
    const char* parts;
    const char* partsCaption;
};

constexpr std::array<GlassNames, 3> kGlassNames = {{
    {"Shape1", "Shape2", "Shape3", "Shape4", "Label1", "Label8", "ComboBox1", "CSpinEdit1", "Label4"},
    {"Shape5", "Shape7", "Shape9", "Shape11", "Label2", "Label9", "ComboBox2", "CSpinEdit2", "Label5"},
    {"Shape6", "Shape8", "Shape10", "Shape12", "Label3", "Label10", "ComboBox3", "CSpinEdit3", "Label6"},
}};

struct PipeGeometry {
    const char* name;
    int ingredient;  // 0..2
    QRect rect;
};

constexpr std::array<PipeGeometry, 7> kPipes = {{
    {"Shape14", 0, QRect(60, 184, 17, 49)},
    {"Shape16", 0, QRect(60, 216, 125, 17)},
    {"Shape15", 0, QRect(168, 224, 17, 41)},
    {"Shape13", 1, QRect(188, 184, 17, 81)},
    {"Shape17", 2, QRect(316, 184, 17, 49)},
    {"Shape19", 2, QRect(208, 216, 125, 17)},
    {"Shape18", 2, QRect(208, 224, 17, 41)},
}};

int ReadParts(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? v : 0;
}

QLabel* Caption(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignCenter);
    FitTextToWidth(label, text, geometry.width());
    return label;
}

}  // namespace

ShapePiece::ShapePiece(Form form, QColor fill, QColor outline, QWidget* parent)
    : QWidget(parent), form_(form), fill_(fill), outline_(outline) {}

void ShapePiece::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setBrush(fill_);
    p.setPen(QPen(outline_, 1));
    if (form_ == Form::Ellipse) {
        p.setRenderHint(QPainter::Antialiasing);
        p.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    } else {
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

PartsSpinEdit::PartsSpinEdit(bool typing, QWidget* parent) : QSpinBox(parent), typing_(typing) {
    setRange(0, kMaxParts);
    lineEdit()->setReadOnly(!typing);
    QFont f = font();
    f.setBold(true);
    f.setPixelSize(13);
    setFont(f);
}

QValidator::State PartsSpinEdit::validate(QString& input, int& pos) const {
    // Out-of-range and non-numeric text stays as typed until the focus leaves.
    if (typing_) return QValidator::Acceptable;
    return QSpinBox::validate(input, pos);
}

int PartsSpinEdit::valueFromText(const QString& text) const {
    return typing_ ? ReadParts(text) : QSpinBox::valueFromText(text);
}

void PartsSpinEdit::keyPressEvent(QKeyEvent* e) {
    // The arrows step by one; a page key would jump the whole range.
    if (e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown) {
        e->ignore();
        return;
    }
    QSpinBox::keyPressEvent(e);
}

void PartsSpinEdit::wheelEvent(QWheelEvent* e) { e->ignore(); }

TCocktailPage::TCocktailPage(RecipeEditor& editor, TfrmNameMusCoc& renameDialog,
                             std::function<void(QPoint)> openRootFolderMenu, QWidget* parent)
    : QWidget(parent), editor_(editor), renameDialog_(renameDialog),
      openRootFolderMenu_(std::move(openRootFolderMenu)) {
    setObjectName(QStringLiteral("CocktailPage"));
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    QTabBar tabs;
    tabs.setFont(f);
    tabs.addTab(QStringLiteral("Musical cocktail"));
    // Room for the lowest control, whatever the style's tab bar takes.
    setMinimumSize(kFormPageWidth, 288);
    resize(kFormPageWidth, std::max(288, kFormPageHeight - tabs.sizeHint().height()));

    // Pipes first: the parts fields and the cocktail list cover their ends.
    BuildPipes();
    for (int k = 0; k < 3; ++k) BuildGlass(k);

    Label7 = Caption(this, "Label7", QStringLiteral("Musical cocktail:"), QRect(32, 267, 84, 17));
    ComboBox4 = new QComboBox(this);
    ComboBox4->setObjectName(QStringLiteral("ComboBox4"));
    ComboBox4->setEditable(false);
    ComboBox4->setGeometry(120, 264, 153, 21);
    Button1 = new QPushButton(QStringLiteral("Rename"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(284, 262, 65, 25);

    // Two lines in the room left of the pipes, under the first glass.
    chkCocktailSubfolders = new QCheckBox(QStringLiteral("Cocktail folders include\ntheir subfolders"), this);
    chkCocktailSubfolders->setObjectName(QStringLiteral("chkCocktailSubfolders"));
    chkCocktailSubfolders->setAccessibleName(QStringLiteral("Cocktail folders include their subfolders"));
    chkCocktailSubfolders->setGeometry(4, 234, 162, 28);
    connect(chkCocktailSubfolders, &QCheckBox::clicked, this, [this](bool on) {
        Guarded([this, on] { editor_.chkCocktailSubfoldersClick(on); });
        Render();
    });

    connect(ComboBox4, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0) return;
        Guarded([this, index] { editor_.ComboBox4Change(index); });
        Render();
    });
    connect(Button1, &QPushButton::clicked, this, [this] {
        const bool renamed = renameDialog_.Open();
        Render();
        if (renamed) emit edited();
    });
    Render();
}

void TCocktailPage::BuildPipes() {
    for (const PipeGeometry& g : kPipes) {
        auto* piece = new ShapePiece(ShapePiece::Form::Rectangle, kMaroon, kMaroon, this);
        piece->setObjectName(QString::fromLatin1(g.name));
        piece->setGeometry(g.rect);
        Pipes[static_cast<std::size_t>(g.ingredient)].push_back(piece);
    }
}

void TCocktailPage::BuildGlass(int k) {
    const GlassNames& n = kGlassNames[static_cast<std::size_t>(k)];
    const int dx = k * kGlassShift;
    auto reacting = [this, k](QWidget* w, const char* name, QRect r) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(r.translated(k * kGlassShift, 0));
        w->setProperty(kGlassProperty, k + 1);
        w->installEventFilter(this);
    };

    // Back to front: the stem runs up under the glass, the labels lie on it.
    reacting(new ShapePiece(ShapePiece::Form::Rectangle, kGreen, Qt::black, this), n.stem, QRect(48, 104, 41, 57));
    reacting(new ShapePiece(ShapePiece::Form::Rectangle, kGreen, Qt::black, this), n.body, QRect(16, 16, 105, 105));
    reacting(new ShapePiece(ShapePiece::Form::Ellipse, kGreen, Qt::black, this), n.foot, QRect(16, 104, 105, 33));
    reacting(new ShapePiece(ShapePiece::Form::Ellipse, Qt::white, Qt::black, this), n.rim, QRect(24, 96, 89, 33));

    auto* folder = new QLabel(this);
    folder->setAlignment(Qt::AlignCenter);
    folder->setWordWrap(true);
    folder->setAutoFillBackground(true);
    QPalette pal = folder->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    folder->setPalette(pal);
    folder->setTextFormat(Qt::PlainText);
    reacting(folder, n.folder, QRect(16, 56, 105, 25));
    FolderLabels[static_cast<std::size_t>(k)] = folder;

    // On the glass between the name and the rim, where it is read with the name.
    auto* empty = new QLabel(QStringLiteral("holds no music files"), this);
    empty->setAlignment(Qt::AlignCenter);
    empty->setAutoFillBackground(true);
    QPalette warn = pal;
    warn.setColor(QPalette::WindowText, kMaroon);
    empty->setPalette(warn);
    FitTextToWidth(empty, empty->text(), 105);
    reacting(empty, ("NoFiles" + std::to_string(k + 1)).c_str(), QRect(16, 81, 105, 15));
    empty->hide();
    NoFilesLabels[static_cast<std::size_t>(k)] = empty;

    auto* caption = new QLabel(QStringLiteral("Ingredients %1").arg(k + 1), this);
    caption->setAlignment(Qt::AlignCenter);
    FitTextToWidth(caption, caption->text(), 73);
    reacting(caption, n.caption, QRect(32, 104, 73, 17));

    auto* kind = new QComboBox(this);
    kind->setObjectName(QString::fromLatin1(n.kind));
    for (const char* c : RecipeEditor::kKindCaptions) kind->addItem(QString::fromLatin1(c));
    kind->setGeometry(16 + dx, 16, 105, 21);
    kind->setEnabled(false);
    KindBoxes[static_cast<std::size_t>(k)] = kind;

    // Only the third field takes typing.
    auto* parts = new PartsSpinEdit(k == 2, this);
    parts->setObjectName(QString::fromLatin1(n.parts));
    parts->setGeometry(48 + dx, 160, 41, 26);
    CSpinEdits[static_cast<std::size_t>(k)] = parts;
    connect(parts, &QSpinBox::valueChanged, this, [this, k](int v) { PartsChanged(static_cast<std::size_t>(k), v); });

    Caption(this, n.partsCaption, QStringLiteral("Parts"), QRect(92 + dx, 166, 33, 17));
}

void TCocktailPage::PartsChanged(std::size_t k, int value) {
    Guarded([this, k, value] {
        if (k == 0) editor_.CSpinEdit1Change(value);
        else if (k == 1) editor_.CSpinEdit2Change(value);
        else editor_.CSpinEdit3Change(value);
    });
    Render();
}

bool TCocktailPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick) return false;
    const QVariant glass = watched->property(kGlassProperty);
    if (!glass.isValid()) return false;
    auto* e = static_cast<QMouseEvent*>(event);
    const MouseButton button = e->button() == Qt::RightButton  ? MouseButton::Right
                               : e->button() == Qt::LeftButton ? MouseButton::Left
                                                               : MouseButton::Middle;
    bool open = false;
    Guarded([&] { open = editor_.GlassMouseDown(glass.toInt(), button); });
    if (open && openRootFolderMenu_) openRootFolderMenu_(e->globalPosition().toPoint());
    return true;
}

void TCocktailPage::Render() {
    // What the render sets is the editor's state already: the controls report none of it.
    const QSignalBlocker quietList(ComboBox4);
    const std::array<QSignalBlocker, 3> quietParts{QSignalBlocker(CSpinEdits[0]), QSignalBlocker(CSpinEdits[1]),
                                                    QSignalBlocker(CSpinEdits[2])};
    for (std::size_t k = 0; k < 3; ++k) {
        KindBoxes[k]->setCurrentIndex(editor_.KindItemIndex[k]);
        // Two lines may not hold a long name; the whole of it shows on hovering.
        const QString folder = QString::fromStdString(editor_.FolderLabels()[k]);
        FolderLabels[k]->setText(folder);
        FolderLabels[k]->setToolTip(folder);
        // A typed text that reads as the stored value stays as typed until the focus leaves.
        if (CSpinEdits[k]->value() != editor_.CSpinEditValue[k]) CSpinEdits[k]->setValue(editor_.CSpinEditValue[k]);
        for (ShapePiece* piece : Pipes[k]) piece->setVisible(editor_.PipeShown[k]);
        NoFilesLabels[k]->setVisible(editor_.HoldsNoFiles(k));
    }
    chkCocktailSubfolders->setChecked(editor_.SubfoldersChecked());

    const std::vector<std::string>& names = editor_.ComboBox4Items();
    if (ComboBox4->count() != static_cast<int>(names.size())) {
        ComboBox4->clear();
        for (const std::string& name : names) ComboBox4->addItem(QString::fromStdString(name));
    } else {
        for (int i = 0; i < ComboBox4->count(); ++i) {
            const QString text = QString::fromStdString(names[static_cast<std::size_t>(i)]);
            if (ComboBox4->itemText(i) != text) ComboBox4->setItemText(i, text);
        }
    }
    if (ComboBox4->currentIndex() != editor_.ComboBox4ItemIndex()) ComboBox4->setCurrentIndex(editor_.ComboBox4ItemIndex());
}

}  // namespace quendo
