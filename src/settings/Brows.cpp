#include "settings/Brows.h"

#include <fstream>
#include <sstream>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QStandardPaths>
#include <QStyle>

#include "library/StartupSequence.h"
#include "platform/qt/QtPlatform.h"
#include "settings/BrowseDrives.h"

namespace quendo {
namespace {

QString Decode(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string Encode(const QString& path) { return QFile::encodeName(path).toStdString(); }

constexpr int kPathRole = Qt::UserRole;

// The folder list shows depth by indentation only: no branch lines or arrows.
class FolderList : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;

protected:
    void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
};

}  // namespace

TBrowse::TBrowse(Core& c, QWidget* parent, std::string mounts)
    : QDialog(parent), core(c), mounts_(std::move(mounts)) {
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

    DirectoryListBox1 = new FolderList(this);
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

    StaticText1 = new QLabel(this);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText1->setGeometry(0, 227, 292, 17);
    StaticText1->setFont(bold);
    StaticText1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StaticText1->setIndent(3);

    connect(DriveComboBox1, &QComboBox::activated, this, [this](int i) { Guarded([&] { DriveComboBox1Change(i); }); });
    connect(DirectoryListBox1, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item, int) { Guarded([&] { DirectoryListBox1DblClick(item); }); });
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<std::string> TBrowse::Choose() {
    if (current_.empty()) {
        SetCurrentFolder(BrowseStartFolder(
            Encode(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)),
            core.files.demoLibrary, Encode(QDir::homePath())));
    }
    for (;;) {
        DirectoryListBox1->setFocus();
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
        if (!core.startup.BrowseCancelClick()) return std::nullopt;
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
    FillFolders();

    currentText_ = MusicFolderFromChoice(current_);
    const QString text = Decode(currentText_);
    StaticText1->setToolTip(text);
    // A long path keeps its end in view, where the chosen folder is.
    const int room = StaticText1->contentsRect().width() - 2 * StaticText1->indent();
    StaticText1->setText(StaticText1->fontMetrics().elidedText(text, Qt::ElideLeft, room));
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
