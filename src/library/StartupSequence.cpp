#include "library/StartupSequence.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "library/SafeFile.h"
#include "model/ProgramFiles.h"

namespace quendo {

std::string RunningExecutablePath() {
    std::vector<char> buffer(4096);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);  // a longer path than the buffer: try again
    }
    return {};
}

std::string MusicFolderFromChoice(const std::string& chosen) {
    if (chosen.empty() || chosen.back() == NodeTable::kSeparator) return chosen;
    return chosen + NodeTable::kSeparator;
}

std::optional<std::string> FirstRunLimitMessage(const LibraryCount& count) {
    if (count.files > kFirstRunMostFiles)
        return "The number of files found exceeds the maximum allowed (50000). Please refine your choice.";
    if (count.folders > kFirstRunMostFolders)
        return "The number of folders found exceeds the maximum allowed (5000). Please refine your choice.";
    if (count.files >= 1 && count.folders >= 1) return std::nullopt;
    return "The folder, specified by you, should contain not less than one folder with one musical file. "
           "Please refine your choice.";
}

int CentredTop(int screenHeight, int formHeight) { return (screenHeight - formHeight) / 2; }

SlideStep SlideOutStep(int top, int screenHeight, bool animate) {
    if (top >= screenHeight || !animate) return {top, true};
    return {top + 2, false};
}

bool StartupSequence::BrowseCancelClick() {
    if (p_.dialogs.Message("Without musical files Quendo (as well as the man) can not work. "
                                 "Let's continue search of files?",
                                 MsgIcon::Warning, MsgButtons::OkCancel, MsgPlace::TopLeft) == MsgAnswer::Ok)
        return true;
    p_.dialogs.Message("Thank you for using of our software.", MsgIcon::Information, MsgButtons::Ok,
                             MsgPlace::TopLeft);
    SetupCancelled = true;
    p_.owner.CloseMainWindow();
    return false;
}

void StartupSequence::SplashLinkClick(const std::string& address) {
    OpenOrSay(p_.shell, p_.dialogs, address + "?s" + std::to_string(p_.nodes.FileCount()));
}

void StartupSequence::RunStartupSequence() {
    StartupScreens& screens = p_.screens;

    // The program's folder holds the configuration and the playlist: beside the executable, or
    // the user's configuration folder for an installed copy.
    std::string folder = p_.files.settingsFolder;
    if (folder.empty()) {
        p_.dialogs.Message("Error 0001");
        std::error_code ec;
        folder = std::filesystem::current_path(ec).string();
    }
    p_.nodes.ProgramFolder = folder;

    std::error_code ec;
    const std::string configuration = BesideExecutable(folder, kConfigurationFileName);
    if (std::filesystem::exists(std::filesystem::symlink_status(configuration, ec))) {
        // An unreadable file leaves the cocktails with their first-run recipes rather than
        // with no values at all; folders beyond this library count as empty.
        if (!p_.owner.LoadConfiguration()) p_.cocktails.SetFirstRunValues(NodeTable::kFolderSlots);
        FirstRun = false;
    } else {
        FirstRun = true;
        p_.owner.ReadAutoMixSettings();
        LibraryCount count;
        for (;;) {
            const std::optional<std::string> chosen = screens.ShowBrowseModal();
            if (!chosen) SetupCancelled = true;
            if (SetupCancelled) {
                // The program ends: no scan, no file.
                screens.CloseSplash();
                return;
            }
            p_.nodes.MusicFolder = MusicFolderFromChoice(*chosen);
            count = p_.nodes.MusicFolder.empty() ? LibraryCount{} : CountLibrary(p_.nodes.MusicFolder);
            const std::optional<std::string> refusal = FirstRunLimitMessage(count);
            if (!refusal) break;
            p_.dialogs.Message(*refusal, MsgIcon::Warning, MsgButtons::Ok, MsgPlace::TopLeft);
        }
        p_.options.Edit1 = p_.nodes.MusicFolder;
        p_.owner.SetFirstRunValues(static_cast<std::int32_t>(count.folders));
        p_.owner.SaveConfiguration();
    }

    if (!p_.options.chkShowSplash) screens.HideSplash();
    p_.options.ComboBox5 = 0;

    // An empty music folder (an unreadable file) gives an empty library, not some other tree.
    p_.nodes.Clear();
    const std::string& music = p_.nodes.MusicFolder;
    if (!music.empty()) {
        std::error_code missing;
        const std::filesystem::directory_iterator listing(music, missing);
        MusicFolderMissing = static_cast<bool>(missing);
        if (MusicFolderMissing) {
            const bool there = std::filesystem::exists(music, ec);
            p_.dialogs.Message("The music folder \"" + music + (there ? "\" cannot be read." : "\" cannot be found.") +
                                   " The playlist is kept until it is back.",
                               MsgIcon::Warning);
        } else {
            ScanLibrary(music, p_.nodes);
            // A mount point whose disk is not mounted is an empty folder: a playlist that named
            // files is kept for the run that finds them, as for a folder that is gone.
            if (p_.nodes.FileCount() == 0 && SavedPlaylistNamesFiles()) {
                MusicFolderMissing = true;
                p_.dialogs.Message("The music folder \"" + music +
                                       "\" holds no music files. The playlist is kept until they are back.",
                                   MsgIcon::Warning);
            }
        }
    }
    p_.display.Label6 = "Folders = " + std::to_string(p_.nodes.FolderCount());
    p_.display.Label7 = "Files = " + std::to_string(p_.nodes.FileCount());

    ShowRepeatAndShuffle(p_.buttons, p_.display);

    if (p_.options.chkShowSplash) screens.StartSlideOut();
    else screens.CloseSplash();
}

bool StartupSequence::SavedPlaylistNamesFiles() const {
    std::string content;
    if (!ReadWholeFile(BesideExecutable(p_.nodes.ProgramFolder, kPlaylistFileName), content, 1 << 20)) return false;
    return content.find_first_not_of("\r\n") != std::string::npos;
}

}  // namespace quendo
