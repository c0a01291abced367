#pragma once
#include <optional>
#include <string>
#include <vector>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "app/Core.h"

namespace quendo {

// The directory chooser of a first run: drives, folders, the current folder, OK and Cancel.
class TBrowse : public QDialog {
public:
    // The drive list is read from `mounts`, a file laid out as /proc/self/mounts.
    explicit TBrowse(Core& core, QWidget* parent = nullptr, std::string mounts = "/proc/self/mounts");

    Core& core;
    QComboBox* DriveComboBox1;
    QTreeWidget* DirectoryListBox1;  // the path down to the current folder, then its subfolders
    QLabel* Label1;
    QPushButton* BitBtn2;  // Cancel
    QPushButton* BitBtn1;  // OK
    QLabel* StaticText1;   // the current folder, with its separator

    // Shows the chooser modally until a folder is chosen (its path), or the user gives up in
    // Cancel's questions or the program ends meanwhile (nothing). It opens in the start folder
    // unless a folder is current already; later calls keep where the user was.
    std::optional<std::string> Choose();

    void SetCurrentFolder(const std::string& path);
    const std::string& CurrentFolder() const { return current_; }
    // The text StaticText1 stands for (the label may shorten a long path to fit).
    const std::string& CurrentFolderText() const { return currentText_; }

    void DriveComboBox1Change(int index);
    void DirectoryListBox1DblClick(QTreeWidgetItem* item);

protected:
    void hideEvent(QHideEvent*) override;

private:
    std::string mounts_;
    void FillDrives();
    void FillFolders();
    std::vector<std::string> drives_;
    std::string current_;
    std::string currentText_;
    std::optional<QRect> place_;  // where the inside was when last hidden
};

}  // namespace quendo
