#include "library/StartupSequence.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "app/Core.h"

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

std::string FolderOfPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string MusicFolderFromChoice(const std::string& chosen) {
    if (chosen.empty() || chosen.back() == NodeTable::kSeparator) return chosen;
    return chosen + NodeTable::kSeparator;
}

std::optional<std::string> FirstRunLimitMessage(const LibraryCount& count) {
    if (count.files > 50000)
        return "The number of files found exceeds the maximum allowed (50000). Please refine your choice.";
    if (count.folders > 5000)
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

bool Core::BrowseCancelClick() {
    if (platform.dialogs.Message("Without musical files Quendo (as well as the man) can not work. "
                                 "Let's continue search of files?",
                                 MsgIcon::Warning, MsgButtons::OkCancel, MsgPlace::TopLeft) == MsgAnswer::Ok)
        return true;
    platform.dialogs.Message("Thank you for using of our software.", MsgIcon::Information, MsgButtons::Ok,
                             MsgPlace::TopLeft);
    SetupCancelled = true;
    if (hooks.CloseMainWindow) hooks.CloseMainWindow();
    return false;
}

void Core::SplashLinkClick(const std::string& address) {
    platform.shell.Open(address + "?s" + std::to_string(nodes.FileCount()));
}

void Core::RunStartupSequence() {
    const StartupHooks& h = startupHooks;

    // The program's folder holds the configuration and the playlist.
    std::string folder = FolderOfPath(h.ExecutablePath ? h.ExecutablePath() : RunningExecutablePath());
    if (folder.empty()) {
        platform.dialogs.Message("Error 0001");
        std::error_code ec;
        folder = std::filesystem::current_path(ec).string();
    }
    nodes.ProgramFolder = folder;

    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(ConfigurationFilePath(), ec))) {
        // An unreadable file leaves the cocktails with their first-run recipes rather than
        // with no values at all; folders beyond this library count as empty.
        if (!LoadConfiguration()) cocktailTable.SetFirstRunValues(NodeTable::kFolderSlots);
        FirstRun = false;
    } else {
        FirstRun = true;
        LibraryCount count;
        for (;;) {
            const std::optional<std::string> chosen = h.ShowBrowseModal ? h.ShowBrowseModal() : std::nullopt;
            if (!chosen) SetupCancelled = true;
            if (SetupCancelled) {
                // The program ends: no scan, no file.
                if (h.CloseSplash) h.CloseSplash();
                return;
            }
            nodes.MusicFolder = MusicFolderFromChoice(*chosen);
            count = nodes.MusicFolder.empty() ? LibraryCount{} : CountLibrary(nodes.MusicFolder);
            const std::optional<std::string> refusal = FirstRunLimitMessage(count);
            if (!refusal) break;
            platform.dialogs.Message(*refusal, MsgIcon::Warning, MsgButtons::Ok, MsgPlace::TopLeft);
        }
        options.Edit1 = nodes.MusicFolder;
        SetFirstRunValues(static_cast<std::int32_t>(count.folders));
        SaveConfiguration();
    }

    if (!options.chkShowSplash && h.HideSplash) h.HideSplash();
    options.ComboBox5 = 0;

    // An empty music folder (an unreadable file) gives an empty library, not some other tree.
    nodes.Clear();
    if (!nodes.MusicFolder.empty()) ScanLibrary(nodes.MusicFolder, nodes);
    display.Label6 = "Folders = " + std::to_string(nodes.FolderCount());
    display.Label7 = "Files = " + std::to_string(nodes.FileCount());

    if (buttons.Repeat) {
        display.ShuffleEnabled = true;
        display.RepeatCaptionColour = Colour::Green;
    }
    if (buttons.Shuffle) display.ShuffleCaptionColour = Colour::Green;

    if (options.chkShowSplash) {
        if (h.StartSlideOut) h.StartSlideOut();
    } else if (h.CloseSplash) {
        h.CloseSplash();
    }
}

}  // namespace quendo
