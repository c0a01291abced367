#include "app/Commands.h"

#include <string>

#include "app/FolderMenuContents.h"
#include "model/WebPages.h"
#include "model/ProgramFiles.h"

namespace quendo {

Commands::Commands(Parts parts) : p_(parts) {}

std::string Commands::HelpFilePath() const {
    return p_.files.helpFile.empty() ? kHelpFileName : p_.files.helpFile;
}

void Commands::MenuCommand(int id) {
    if (!MenuHandlingEnabled || p_.cocktails.IngredientPick != 0) return;
    if (id >= 0 && id < kFirstCommand) {
        AddFile(id);
        return;
    }
    switch (id) {
        case cmAbout:
            p_.forms.ShowAboutBox();
            break;
        case cmMixEditor:
            p_.forms.ShowMixEditor();
            break;
        case cmHelp:
            OpenOrSay(p_.shell, p_.dialogs, HelpFilePath());
            break;
        case cmSettings:
            p_.forms.ShowSettings();
            break;
        case cmNormalSize:
        case cmSmallSize: {
            const int h = p_.forms.MainWindowOuterHeight();
            if (id == cmNormalSize && h < kSizeThreshold) p_.forms.SetMainWindowOuterHeight(h + kSizeStep);
            if (id == cmSmallSize && h > kSizeThreshold) p_.forms.SetMainWindowOuterHeight(h - kSizeStep);
            break;
        }
        case cmDeleteItems:
            p_.playlist.DeleteSelectedEntries();
            break;
        case cmClear:
            p_.playlist.ClearPlaylist();
            p_.playlist.ShowPlaylistTotal();
            break;
        case cmMakeCocktail:
            p_.cocktails.MakeCocktail();
            break;
        case cmVisitUpdates:
            OpenOrSay(p_.shell, p_.dialogs, std::string(kProductPage) + "/?m" + std::to_string(p_.nodes.FileCount()));
            break;
        case cmVisitOtherPrograms:
            OpenOrSay(p_.shell, p_.dialogs,
                      std::string(kOtherProgramsPage) + "/?m" + std::to_string(p_.nodes.FileCount()));
            break;
        default:
            break;
    }
}

void Commands::AddFolderFiles(std::int32_t folder) {
    // Indices first: AddToPlaylist may measure, but never changes the table's names.
    for (const MenuChild& f : FolderMenuFiles(p_.nodes, folder)) p_.playlist.AddToPlaylist(f.index);
}

void Commands::FormKeyDown(int key) {
    switch (key) {
        case 'B':
            if (!p_.deck.isMixing() && p_.display.NextEnabled) p_.deck.NextClick();
            break;
        case 'V':
            if (!p_.deck.isMixing() && p_.display.MixOffEnabled) {
                p_.buttons.Mix_OFF = !p_.buttons.Mix_OFF;
                p_.deck.Mix_OFFClick();
            }
            break;
        case 'C':
            p_.buttons.Play = !p_.buttons.Play;
            p_.deck.PlayClick();
            break;
        case 'X':
            p_.buttons.UP = !p_.buttons.UP;
            p_.deck.UPClick();
            break;
        case 'R':
            p_.buttons.Repeat = !p_.buttons.Repeat;
            p_.deck.RepeatClick();
            break;
        case 'S':
            if (p_.display.ShuffleEnabled) {
                p_.buttons.Shuffle = !p_.buttons.Shuffle;
                p_.deck.ShuffleClick();
            }
            break;
        default:
            break;
    }
}

// Presses while menu handling is off or the guard runs: the right button still never chooses
// an item, and the left one works as usual.
bool Commands::Guarded(bool left, PressAction& action) const {
    if (MenuHandlingEnabled && !timer2Enabled_) return false;
    action = left ? PressAction::PassOn : PressAction::Swallow;
    return true;
}

PressAction Commands::FolderItemPress(std::int32_t folder, bool left) {
    PressAction action;
    if (Guarded(left, action)) return action;
    const bool pick = p_.cocktails.IngredientPick != 0;
    if (left) {
        timer2Enabled_ = true;
        if (pick) p_.cocktails.PickIngredientFolder(folder);
        else AddFolderFiles(folder);
        return PressAction::SwallowAndCloseMenus;
    }
    if (!pick) {
        timer2Enabled_ = true;
        AddFolderFiles(folder);
    }
    return PressAction::Swallow;
}

PressAction Commands::FileItemPress(std::int32_t file, bool left) {
    PressAction action;
    if (Guarded(left, action)) return action;
    if (left) return PressAction::PassOn;  // the menu sends the file's command itself
    if (p_.cocktails.IngredientPick == 0 && file >= 0 && file < kFirstCommand) {
        timer2Enabled_ = true;
        p_.playlist.AddToPlaylist(file);
    }
    return PressAction::Swallow;
}

// A file picked from its menu that cannot be played is named; in a folder or a cocktail, and
// among several picked while the menu stays open, it is passed over.
void Commands::AddFile(std::int32_t file) {
    if (!p_.playlist.Add(file) && p_.nodes.IsFile(file))
        p_.dialogs.Message("The file \"" + p_.nodes.RelativePath(file) + "\" cannot be played.", MsgIcon::Warning);
}

void Commands::FolderMenusClosed() { p_.cocktails.IngredientPick = 0; }

}  // namespace quendo
