#include "app/CommandMenus.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QCursor>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QWidget>
#include <algorithm>

#include "app/Core.h"
#include "app/Commands.h"
#include "app/FolderMenuContents.h"
#include "model/WebPages.h"

namespace quendo {

namespace {

// A library name as a menu caption: '&' would otherwise be taken for a mnemonic.
QString Caption(const std::string& name) {
    QString s = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    s.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return s;
}

QAction* CommandItem(QMenu* menu, const QString& caption, int id) {
    auto* a = new QAction(caption, menu);
    a->setData(id);
    menu->addAction(a);
    return a;
}

// A folder of a few hundred entries is taller than the screen; laid out in columns it would run
// off the side, so the folder menus scroll instead.
class ScrollingMenuStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_Menu_Scrollable) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The table's revision a folder menu was last built from.
constexpr const char* kBuiltAt = "builtAt";

bool IsPress(QEvent::Type t) { return t == QEvent::MouseButtonPress || t == QEvent::MouseButtonDblClick; }

}  // namespace

CommandMenus::CommandMenus(Core& core, QWidget* mainWindow)
    : QObject(mainWindow), core_(core),
      MenuTable(static_cast<std::size_t>(NodeTable::kFolderSlots)) {
    menuStyle_ = new ScrollingMenuStyle;
    menuStyle_->setParent(this);
    OptionsMenu = new QMenu(QStringLiteral("Options..."), mainWindow);
    CommandItem(OptionsMenu, QStringLiteral("Settings..."), cmSettings);
    OptionsMenu->addSeparator();
    CommandItem(OptionsMenu, QStringLiteral("Normal size"), cmNormalSize);
    CommandItem(OptionsMenu, QStringLiteral("Small size"), cmSmallSize);

    MainPopup = new QMenu(mainWindow);
    MenuTable[0] = NewFolderMenu(QStringLiteral("Add files from folders"), mainWindow);
    // An abandoned folder pick must not leave every menu command dead: the pick ends with the menu.
    // Not at once, though: a chosen item closes the menus before its command arrives, and the
    // command must still find the pick and be ignored.
    connect(MenuTable[0], &QMenu::aboutToHide, this, [this] {
        if (core_.cocktails.IngredientPick == 0) return;
        QMetaObject::invokeMethod(this, [this] {
            // Opened again meanwhile: a pick goes on.
            if (core_.cocktails.IngredientPick == 0 || MenuTable[0]->isVisible()) return;
            core_.commands.FolderMenusClosed();
            emit changed();
        }, Qt::QueuedConnection);
    });

    CommandItem(MainPopup, QStringLiteral("Visit for updates:"), cmVisitUpdates);
    CommandItem(MainPopup, QString::fromUtf8(kProductPage), cmVisitUpdates);
    MainPopup->addSeparator();
    CommandItem(MainPopup, QStringLiteral("Visit for other programs:"), cmVisitOtherPrograms);
    CommandItem(MainPopup, QString::fromUtf8(kOtherProgramsPage), cmVisitOtherPrograms);
    MainPopup->addSeparator();
    MainPopup->addMenu(MenuTable[0]);
    CommandItem(MainPopup, QStringLiteral("Make musical cocktail"), cmMakeCocktail);
    MainPopup->addSeparator();
    CommandItem(MainPopup, QStringLiteral("Delete items"), cmDeleteItems);
    CommandItem(MainPopup, QStringLiteral("Clear"), cmClear);
    MainPopup->addSeparator();
    CommandItem(MainPopup, QStringLiteral("MixEditor..."), cmMixEditor);
    MainPopup->addMenu(OptionsMenu);
    CommandItem(MainPopup, QStringLiteral("Help..."), cmHelp);
    MainPopup->addSeparator();
    CommandItem(MainPopup, QStringLiteral("About..."), cmAbout);
    Watch(MainPopup);
    Watch(OptionsMenu);
}

CommandMenus::~CommandMenus() {
    // The folder menus below the root are its children and go with it.
    delete MainPopup.data();
    delete OptionsMenu.data();
    delete MenuTable[0].data();
}

QMenu* CommandMenus::FolderMenu(std::int32_t f) const {
    if (f < 0 || f >= static_cast<std::int32_t>(MenuTable.size())) return nullptr;
    return MenuTable[static_cast<std::size_t>(f)];
}

QMenu* CommandMenus::NewFolderMenu(const QString& title, QWidget* parent) {
    auto* menu = new QMenu(title, parent);
    menu->setStyle(menuStyle_);

    Watch(menu);
    menu->installEventFilter(this);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        if (!core_.commands.MenuHandlingEnabled) return;
        const auto it = std::find(MenuTable.begin(), MenuTable.end(), menu);
        if (it == MenuTable.end()) return;
        core_.commands.BuildFolder = static_cast<std::int32_t>(it - MenuTable.begin());
        BuildFolderMenu();
    });
    return menu;
}

// Commands and hover reach every menu of the open chain; each menu takes only its own items.
void CommandMenus::Watch(QMenu* menu) {
    connect(menu, &QMenu::triggered, this, [this, menu](QAction* a) {
        if (a->parent() != menu || !a->data().isValid()) return;
        core_.MenuCommand(a->data().toInt());
        emit changed();
    });
    if (menu == MainPopup || menu == OptionsMenu) menu->installEventFilter(this);
}

void CommandMenus::BuildFolderMenu() {
    const std::int32_t f = core_.commands.BuildFolder;
    QMenu* menu = FolderMenu(f);
    if (!menu) return;
    // Built from the table as it is: the same items would come again, and laying out a folder of
    // thousands of files anew takes longer than a frame.
    const QVariant built = menu->property(kBuiltAt);
    if (built.isValid() && built.toULongLong() == core_.nodes.Revision()) return;
    menu->setProperty(kBuiltAt, QVariant::fromValue<qulonglong>(core_.nodes.Revision()));

    // Rebuilt from scratch when the table changed, so the submenus of the last build go too.
    for (QAction* a : menu->actions())
        if (QMenu* sub = a->menu(); sub && sub->parent() == menu) delete sub;
    menu->clear();

    const FolderMenuContents contents = FolderMenuChildren(core_.nodes, f);
    QList<QAction*> items;
    items.reserve(static_cast<qsizetype>(contents.folders.size() + contents.files.size()));
    for (const MenuChild& c : contents.folders) {
        QMenu* sub = NewFolderMenu(Caption(c.name), menu);
        MenuTable[static_cast<std::size_t>(c.index)] = sub;
        sub->menuAction()->setData(c.index);
        items.push_back(sub->menuAction());
    }
    for (const MenuChild& c : contents.files) {
        auto* a = new QAction(Caption(c.name), menu);
        a->setData(c.index);
        items.push_back(a);
    }
    menu->addActions(items);
    // A menu without items would be given no size, and a window of no size never reaches the
    // screen: an empty folder opens a blank menu about one item high.
    if (items.isEmpty()) {
        const QFontMetrics metrics(menu->font());
        menu->setMinimumSize(metrics.averageCharWidth() * 12, metrics.height() + 8);
    } else {
        menu->setMinimumSize(0, 0);
    }
}

void CommandMenus::PopupMainAt(QPoint globalPos) { MainPopup->popup(globalPos); }

void CommandMenus::CloseAllMenus() {
    // Innermost first; bounded in case a popup refuses to close.
    for (int i = 0; i < 256; ++i) {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup) break;
        popup->close();
    }
}

bool CommandMenus::HandlePress(QMenu* menu, QAction* item, bool left) {
    const std::int32_t index = item->data().toInt();
    const PressAction action = item->menu() ? core_.commands.FolderItemPress(index, left)
                                            : core_.commands.FileItemPress(index, left);
    if (action == PressAction::PassOn) return false;
    if (action == PressAction::SwallowAndCloseMenus) CloseAllMenus();
    else KeepOpen(menu);
    emit changed();
    return true;
}

void CommandMenus::KeepOpen(QMenu* menu) {
    // The press is inside `menu` while a submenu may be the active popup, so `menu` has had a
    // Leave and its parents count down to closing it (their "sloppy" submenu timers). Telling it
    // the pointer is back stops them.
    const QPointF global = QCursor::pos();
    const QPointF local = menu->mapFromGlobal(global);
    QEnterEvent enter(local, local, global);
    QCoreApplication::sendEvent(menu, &enter);
}

bool CommandMenus::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type t = event->type();

    if (!IsPress(t) && t != QEvent::MouseButtonRelease) return false;
    auto* menu = qobject_cast<QMenu*>(watched);
    if (!menu) return false;
    auto* e = static_cast<QMouseEvent*>(event);
    const bool left = e->button() == Qt::LeftButton;
    if (!left && e->button() != Qt::RightButton) return false;
    // Presses outside the menu's items go on, so that a click elsewhere still closes the menus.
    QAction* item = menu->rect().contains(e->position().toPoint()) ? menu->actionAt(e->position().toPoint()) : nullptr;
    if (!item || item->isSeparator()) return false;

    // The right button never chooses an item; left releases are the menu's own business.
    if (t == QEvent::MouseButtonRelease) return !left;
    if (menu == MainPopup || menu == OptionsMenu) return !left;
    return HandlePress(menu, item, left);
}

}  // namespace quendo
