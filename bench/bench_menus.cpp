#include <QApplication>
#include <QMenu>
#include <QWidget>

#include "BenchUtil.h"
#include "app/CommandMenus.h"
#include "support/Fakes.h"

int main(int argc, char** argv) {
    bench::Figures figures(argc, argv);
    if (!figures.Wants("folder_menu_build_ms") && !figures.Wants("folder_menu_reopen_ms")) return 0;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qargc = 1;
    QApplication app(qargc, argv);

    // 50000 files: the measured folder holds 200 subfolders and 2000 files, the rest lie elsewhere.
    quendo::testing::FakeWorld w;
    quendo::NodeTable& t = w.core->nodes;
    const std::int32_t big = t.AddFolderNode(0, "Big");
    for (int i = 0; i < 200; ++i) t.AddFolderNode(big, "Sub folder " + std::to_string((i * 37) % 200));
    std::int32_t other = t.AddFolderNode(0, "Other");
    for (int j = 0; j < 50000; ++j) {
        if (j % 1000 == 0) other = t.AddFolderNode(0, "Other " + std::to_string(j));
        if (j % 25 == 0) t.AddFileNode(big, "Artist " + std::to_string((j * 7919) % 50000) + " - Track.mp3");
        else t.AddFileNode(other, "Track " + std::to_string(j) + ".mp3");
    }
    w.core->commands.MenuHandlingEnabled = true;

    QWidget window;
    // The first opening of the folder's menu, cold: a new set of menus each time, the root opened
    // on the way as a user does.
    const double first = bench::MedianSeconds(9, [&] {
        quendo::CommandMenus menus(*w.core, &window);
        QMenu* root = menus.RootFolderMenu();
        root->popup(QPoint(0, 0));
        QMenu* menu = root->actions().front()->menu();
        menu->popup(QPoint(0, 0));  // builds in aboutToShow, then lays out and shows
        QApplication::processEvents();
        menu->close();
        root->close();
    });
    figures.Print("folder_menu_build_ms", first * 1e3, "ms");

    // The same menu opened again, the library unchanged.
    quendo::CommandMenus menus(*w.core, &window);
    QMenu* root = menus.RootFolderMenu();
    root->popup(QPoint(0, 0));
    QAction* bigItem = root->actions().front();
    root->close();
    const double again = bench::MedianSeconds(15, [&] {
        QMenu* menu = bigItem->menu();
        menu->popup(QPoint(0, 0));
        QApplication::processEvents();
        menu->close();
    });
    figures.Print("folder_menu_reopen_ms", again * 1e3, "ms");
    return 0;
}
