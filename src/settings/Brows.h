#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "library/LibraryScan.h"
#include "model/SettingsModel.h"

class QCompleter;

namespace quendo {

// The directory chooser of a first run: drives, folders, the current folder, OK and Cancel.
class TBrowse : public QDialog {
public:
    // The drive list is read from `mounts`, a file laid out as /proc/self/mounts.
    explicit TBrowse(FolderChoiceOwner& owner, QWidget* parent = nullptr, std::string mounts = "/proc/self/mounts");
    ~TBrowse() override;

    FolderChoiceOwner& owner;
    QComboBox* DriveComboBox1;
    QTreeWidget* DirectoryListBox1;  // the path down to the current folder, then its subfolders
    QLabel* Label1;
    QPushButton* BitBtn2;  // Cancel
    QPushButton* BitBtn1;  // OK
    // The current folder, with its separator; a path typed or pasted here, with the folders of
    // the disk offered as it is typed, is what Enter and OK choose.
    QLineEdit* StaticText1;
    QCompleter* FolderCompleter;
    // Under the folder list: what the current folder holds (folders and music files, counted
    // aside from the window), or why a typed path cannot be chosen.
    QLabel* LabelCounts;

    // Shows the chooser modally until a folder is chosen (its path), or the user gives up in
    // Cancel's questions or the program ends meanwhile (nothing). It opens in the user's music
    // folder unless a folder is current already; later calls keep where the user was.
    std::optional<std::string> Choose();

    void SetCurrentFolder(const std::string& path);
    const std::string& CurrentFolder() const { return current_; }
    // The text StaticText1 stands for while nothing has been typed into it.
    const std::string& CurrentFolderText() const { return currentText_; }
    // The counts of the current folder once its walk is over (it stops past what a library takes).
    const std::optional<LibraryCount>& CurrentFolderCount() const { return counted_; }

    void DriveComboBox1Change(int index);
    void DirectoryListBox1DblClick(QTreeWidgetItem* item);
    // OK, or Enter anywhere but on a folder other than the current one: the folder the field
    // names becomes current and is chosen; a path that names no folder is said under the list.
    void BitBtn1Click();

protected:
    void hideEvent(QHideEvent*) override;

private:
    std::string mounts_;
    void FillDrives();
    void FillFolders();
    void ShowCurrentFolder(bool intoField);
    void StartCount();
    void ShowCount(const LibraryCount& count, bool over);
    void ShowProblem(const QString& text);
    void FollowTypedPath();
    // The folder the field's text names, or a message why it names none.
    std::optional<std::string> TypedFolder(QString& problem) const;
    std::vector<std::string> drives_;
    std::string current_;
    std::string currentText_;
    std::optional<LibraryCount> counted_;
    std::uint64_t countRun_ = 0;  // the count whose news is shown; older news is dropped
    QTimer* typing_;              // the list follows a typed path once typing pauses
    std::optional<QRect> place_;  // where the inside was when last hidden
    std::jthread counter_;        // last, so it is stopped before what it reports to goes
};

}  // namespace quendo
