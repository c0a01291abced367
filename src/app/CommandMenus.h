#pragma once
#include <QAction>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <cstdint>
#include <vector>

class QStyle;
class QWidget;

namespace quendo {

class Core;

// The main window's popup menus: MainPopup with OptionsMenu, and the folder menus of the library,
// each built when it opens. An event filter on the folder menus gives their items the extra
// mouse actions (a left press on a folder adds its files or picks it for a cocktail, a right
// press adds a folder's or a file's files and leaves the menus open).
class CommandMenus : public QObject {
    Q_OBJECT
public:
    CommandMenus(Core& core, QWidget* mainWindow);
    ~CommandMenus() override;

    QPointer<QMenu> MainPopup;
    QPointer<QMenu> OptionsMenu;
    // The menu of the music folder itself, behind "Add files from folders"; the cocktail editor
    // opens it after setting IngredientPick.
    QMenu* RootFolderMenu() const { return MenuTable[0]; }
    // The menu of folder f, or nullptr while its parent's menu has not been built.
    QMenu* FolderMenu(std::int32_t f) const;

    // Opens MainPopup with its top-left corner at a global (screen) position.
    void PopupMainAt(QPoint globalPos);
    // Fills the menu of core.BuildFolder afresh.
    void BuildFolderMenu();

signals:
    // Core state changed: the main window should render it again.
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMenu* NewFolderMenu(const QString& title, QWidget* parent);
    void Watch(QMenu* menu);
    bool HandlePress(QMenu* menu, QAction* item, bool left);
    void KeepOpen(QMenu* menu);
    void CloseAllMenus();

    Core& core_;
    QStyle* menuStyle_ = nullptr;  // shared by the folder menus
    std::vector<QPointer<QMenu>> MenuTable;  // one slot per folder index
};

}  // namespace quendo
