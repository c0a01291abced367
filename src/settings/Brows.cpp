#include "settings/Brows.h"

#include <chrono>
#include <functional>
#include <fstream>
#include <sstream>

#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStandardPaths>
#include <QStyle>
#include <QUrl>

#include "library/StartupSequence.h"
#include "platform/qt/QtPlatform.h"
#include "settings/BrowseDrives.h"

namespace quendo {
namespace {

QString Decode(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string Encode(const QString& path) { return QFile::encodeName(path).toStdString(); }

constexpr int kPathRole = Qt::UserRole;

constexpr int kCountsHeight = 15;

// The folder list shows depth by indentation only: no branch lines or arrows. Its foot holds a
// line of text, inside its frame and below its rows.
class FolderList : public QTreeWidget {
public:
    explicit FolderList(QWidget* parent) : QTreeWidget(parent) {
        setViewportMargins(0, 0, 0, kCountsHeight);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        foot = new QLabel(this);
        foot->setIndent(3);
        foot->setAutoFillBackground(true);
    }
    QLabel* foot;
    // Enter on a folder other than the current one opens it; on the current one it goes on to
    // the dialog, which chooses what the field names.
    std::function<void(QTreeWidgetItem*)> open;

protected:
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
    void resizeEvent(QResizeEvent* e) override {
        QTreeWidget::resizeEvent(e);
        const QRect inside = contentsRect();
        foot->setGeometry(inside.left(), inside.bottom() + 1 - kCountsHeight, inside.width(), kCountsHeight);
        foot->raise();
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter) return QTreeWidget::keyPressEvent(e);
        QTreeWidgetItem* item = currentItem();
        if (item && item->data(0, kPathRole) != property("currentPath")) {
            open(item);
            e->accept();
            return;
        }
        e->ignore();
    }
};

QString Plural(std::int64_t n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

}  // namespace

TBrowse::TBrowse(FolderChoiceOwner& o, QWidget* parent, std::string mounts)
    : QDialog(parent), owner(o), mounts_(std::move(mounts)) {
    setObjectName(QStringLiteral("Browse"));
    setWindowTitle(QStringLiteral("Select a directory with your musical files..."));
    // No buttons in the title bar: the dialog ends through OK or Cancel only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
    setFixedSize(292, 244);
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);
    QFont bold = base;
    bold.setBold(true);

    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(0, 0, 292, 20);

    auto* list = new FolderList(this);
    DirectoryListBox1 = list;
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    DirectoryListBox1->setGeometry(0, 20, 292, 180);
    DirectoryListBox1->setHeaderHidden(true);
    DirectoryListBox1->setRootIsDecorated(false);
    DirectoryListBox1->setItemsExpandable(false);
    DirectoryListBox1->setExpandsOnDoubleClick(false);
    DirectoryListBox1->setIndentation(12);
    DirectoryListBox1->setUniformRowHeights(true);

    Label1 = new QLabel(QStringLiteral("The current directory:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(bold);
    Label1->adjustSize();
    Label1->move(5, 208);

    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(144, 202, 70, 24);
    BitBtn2->setAutoDefault(false);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(218, 202, 70, 24);
    BitBtn1->setDefault(true);

    LabelCounts = list->foot;
    LabelCounts->setObjectName(QStringLiteral("LabelCounts"));

    StaticText1 = new QLineEdit(this);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText1->setGeometry(0, 227, 292, 17);
    StaticText1->setFont(bold);
    StaticText1->setTextMargins(1, 0, 1, 0);
    // The disk's folders, offered as a path is typed; names are matched case aside.
    auto* disk = new QFileSystemModel(this);
    disk->setFilter(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Drives);
    disk->setRootPath(QStringLiteral("/"));
    FolderCompleter = new QCompleter(disk, this);
    FolderCompleter->setCaseSensitivity(Qt::CaseInsensitive);
    StaticText1->setCompleter(FolderCompleter);
    typing_ = new QTimer(this);
    typing_->setSingleShot(true);
    typing_->setInterval(250);
    connect(typing_, &QTimer::timeout, this, [this] { Guarded([this] { FollowTypedPath(); }); });
    connect(StaticText1, &QLineEdit::textEdited, this, [this] { typing_->start(); });
    connect(FolderCompleter, qOverload<const QString&>(&QCompleter::activated), this,
            [this] { Guarded([this] { FollowTypedPath(); }); });
    list->open = [this](QTreeWidgetItem* item) { Guarded([&] { DirectoryListBox1DblClick(item); }); };

    connect(DriveComboBox1, &QComboBox::activated, this, [this](int i) { Guarded([&] { DriveComboBox1Change(i); }); });
    connect(DirectoryListBox1, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { Guarded([&] { DirectoryListBox1DblClick(item); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { BitBtn1Click(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

TBrowse::~TBrowse() {
    counter_.request_stop();
    if (counter_.joinable()) counter_.join();
}

std::optional<std::string> TBrowse::Choose() {
    if (current_.empty()) {
        // The desktop's music folder (XDG_MUSIC_DIR), else home.
        SetCurrentFolder(BrowseStartFolder(Encode(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)),
                                           Encode(QDir::homePath())));
    }
    for (;;) {
        // Ready for a path to be typed or pasted over the one shown.
        StaticText1->setFocus();
        StaticText1->selectAll();
        // Each showing has a new native window (closing a dialog destroys it), which Qt would place
        // by its frame's corner from a guess: the inside came back a title bar lower. It comes back
        // where it was, inside for inside.
        if (place_) setGeometry(*place_);
        if (exec() == QDialog::Accepted) return current_;
        if (isVisible()) {
            // Neither OK nor Cancel: the program is ending (a termination signal), and asks nothing.
            hide();
            return std::nullopt;
        }
        // Cancel (or Escape): the dialog is hidden while its two questions are asked.
        if (!owner.BrowseCancelClick()) return std::nullopt;
    }
}

void TBrowse::hideEvent(QHideEvent* e) {
    QDialog::hideEvent(e);
    place_ = geometry();
}

void TBrowse::FillDrives() {
    std::ifstream in(mounts_, std::ios::binary);
    std::ostringstream table;
    table << in.rdbuf();
    drives_.clear();
    // A file mounted over another (a container's resolv.conf) is no place to look for folders.
    for (std::string& d : MountedFileSystems(table.str()))
        if (d == "/" || QFileInfo(Decode(d)).isDir()) drives_.push_back(std::move(d));
    DriveComboBox1->clear();
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    for (const std::string& d : drives_) DriveComboBox1->addItem(icon, Decode(d));
}

void TBrowse::SetCurrentFolder(const std::string& path) {
    if (drives_.empty()) FillDrives();
    QString dir = QDir::cleanPath(Decode(path.empty() ? std::string("/") : path));
    if (!dir.startsWith(QLatin1Char('/'))) dir = QDir::cleanPath(QDir::current().absoluteFilePath(dir));
    // A folder that has gone: its nearest existing ancestor.
    while (dir != QLatin1String("/") && !QFileInfo(dir).isDir()) dir = QFileInfo(dir).path();
    current_ = Encode(dir);

    const std::string drive = DriveOfPath(drives_, current_);
    for (std::size_t i = 0; i < drives_.size(); ++i)
        if (drives_[i] == drive) DriveComboBox1->setCurrentIndex(static_cast<int>(i));
    ShowCurrentFolder(true);
}

void TBrowse::ShowCurrentFolder(bool intoField) {
    FillFolders();
    DirectoryListBox1->setProperty("currentPath", Decode(current_));
    currentText_ = MusicFolderFromChoice(current_);
    const QString text = Decode(currentText_);
    StaticText1->setToolTip(text);
    // The folders below the one shown are read ahead, ready to be offered when a path is typed.
    if (auto* disk = qobject_cast<QFileSystemModel*>(FolderCompleter->model())) disk->setRootPath(Decode(current_));
    if (intoField) {
        typing_->stop();
        StaticText1->setText(text);
        StaticText1->setCursorPosition(static_cast<int>(text.size()));  // the end in view, where the folder is
    }
    StartCount();
}

void TBrowse::StartCount() {
    counted_.reset();
    const std::uint64_t run = ++countRun_;
    LabelCounts->setStyleSheet({});
    LabelCounts->setText(QStringLiteral("Counting..."));
    // A walk of a whole disk may take minutes: it runs aside, says how far it is now and then,
    // and stops past what a library takes, or when another folder is shown.
    counter_ = std::jthread([this, run, folder = current_](std::stop_token stop) {
        using Clock = std::chrono::steady_clock;
        Clock::time_point told = Clock::now();
        const auto report = [this, run](LibraryCount c, bool done, bool over) {
            QMetaObject::invokeMethod(this, [this, run, c, done, over] {
                if (run != countRun_) return;
                if (done) counted_ = c;
                ShowCount(c, over);
                if (!done) LabelCounts->setText(QStringLiteral("Counting... ") + LabelCounts->text());
            }, Qt::QueuedConnection);
        };
        bool over = false;
        bool complete = false;
        const LibraryCount c = CountLibraryWhile(folder, [&](const LibraryCount& soFar) {
            if (stop.stop_requested()) return false;
            if (soFar.files > kFirstRunMostFiles || soFar.folders > kFirstRunMostFolders) {
                over = true;
                return false;
            }
            if (Clock::now() - told > std::chrono::milliseconds(200)) {
                told = Clock::now();
                report(soFar, false, false);
            }
            return true;
        }, complete);
        if (!stop.stop_requested()) report(c, true, over);
    });
}

void TBrowse::ShowCount(const LibraryCount& c, bool over) {
    QString text;
    if (c.files > kFirstRunMostFiles) text = QStringLiteral("Over %1 music files: more than a library takes").arg(kFirstRunMostFiles);
    else if (c.folders > kFirstRunMostFolders) text = QStringLiteral("Over %1 folders: more than a library takes").arg(kFirstRunMostFolders);
    else text = Plural(c.folders, "folder", "folders") + QStringLiteral(", ") + Plural(c.files, "music file", "music files");
    // What the first run would refuse is shown as a warning before OK.
    const bool refused = over || (counted_ && FirstRunLimitMessage(c).has_value());
    LabelCounts->setStyleSheet(refused ? QStringLiteral("color: #b00000;") : QString());
    LabelCounts->setToolTip({});
    LabelCounts->setText(text);
}

void TBrowse::ShowProblem(const QString& text) {
    ++countRun_;  // the counts of the folder shown before are no longer the news
    LabelCounts->setStyleSheet(QStringLiteral("color: #b00000;"));
    LabelCounts->setToolTip(text);
    LabelCounts->setText(LabelCounts->fontMetrics().elidedText(text, Qt::ElideMiddle, LabelCounts->contentsRect().width() - 6));
}

std::optional<std::string> TBrowse::TypedFolder(QString& problem) const {
    QString typed = StaticText1->text();
    if (typed.startsWith(QLatin1String("file:"))) typed = QUrl(typed).toLocalFile();  // pasted from a file manager
    if (!QFileInfo::exists(typed)) typed = typed.trimmed();
    if (typed.isEmpty()) {
        problem = QStringLiteral("Type or choose a folder.");
        return std::nullopt;
    }
    if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/"))) typed.replace(0, 1, QDir::homePath());
    // A name without a path is looked for in the current folder.
    const QString path = QDir::cleanPath(QDir(Decode(current_)).absoluteFilePath(typed));
    const QFileInfo info(path);
    if (!info.exists()) problem = QStringLiteral("There is no folder \"%1\".").arg(path);
    else if (!info.isDir()) problem = QStringLiteral("\"%1\" is a file, not a folder.").arg(path);
    else if (!info.isReadable() || !info.isExecutable()) problem = QStringLiteral("The folder \"%1\" cannot be opened.").arg(path);
    else return Encode(path);
    return std::nullopt;
}

void TBrowse::FollowTypedPath() {
    QString problem;
    const std::optional<std::string> folder = TypedFolder(problem);
    if (!folder) {
        ++countRun_;
        LabelCounts->setStyleSheet({});
        LabelCounts->setText({});  // nothing said while a path is being typed
        return;
    }
    if (*folder == current_) return;
    current_ = *folder;
    const std::string drive = DriveOfPath(drives_, current_);
    for (std::size_t i = 0; i < drives_.size(); ++i)
        if (drives_[i] == drive) DriveComboBox1->setCurrentIndex(static_cast<int>(i));
    ShowCurrentFolder(false);
}

void TBrowse::BitBtn1Click() {
    QString problem;
    const std::optional<std::string> folder = TypedFolder(problem);
    if (!folder) {
        ShowProblem(problem);
        StaticText1->setFocus();
        return;
    }
    if (*folder != current_) SetCurrentFolder(*folder);
    accept();
}

void TBrowse::FillFolders() {
    DirectoryListBox1->clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);

    // The path from the drive down to the current folder, one level deeper each.
    const std::string drive = DriveOfPath(drives_, current_);
    std::string at = drive;
    auto* item = new QTreeWidgetItem(DirectoryListBox1, QStringList{Decode(drive)});
    item->setIcon(0, open);
    item->setData(0, kPathRole, Decode(drive));
    std::string rest = current_.size() > drive.size() ? current_.substr(drive.size()) : std::string();
    std::size_t pos = 0;
    while (pos < rest.size()) {
        if (rest[pos] == '/') {
            ++pos;
            continue;
        }
        const std::size_t end = std::min(rest.find('/', pos), rest.size());
        const std::string name = rest.substr(pos, end - pos);
        at = (at == "/" ? std::string() : at) + "/" + name;
        item = new QTreeWidgetItem(item, QStringList{Decode(name)});
        item->setIcon(0, open);
        item->setData(0, kPathRole, Decode(at));
        pos = end;
    }
    QTreeWidgetItem* currentItem = item;

    const QDir here(Decode(current_));
    const QStringList subfolders =
        here.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QString& name : subfolders) {
        auto* sub = new QTreeWidgetItem(currentItem, QStringList{name});
        sub->setIcon(0, closed);
        sub->setData(0, kPathRole, here.absoluteFilePath(name));
    }
    DirectoryListBox1->expandAll();
    DirectoryListBox1->setCurrentItem(currentItem);
    DirectoryListBox1->scrollToItem(currentItem);
}

void TBrowse::DriveComboBox1Change(int index) {
    if (index < 0 || index >= static_cast<int>(drives_.size())) return;
    SetCurrentFolder(drives_[static_cast<std::size_t>(index)]);
}

void TBrowse::DirectoryListBox1DblClick(QTreeWidgetItem* item) {
    if (!item) return;
    SetCurrentFolder(Encode(item->data(0, kPathRole).toString()));
}

}  // namespace quendo
