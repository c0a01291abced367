#pragma once
#include <functional>

#include "model/Display.h"
#include "model/Platform.h"
#include "model/Options.h"

namespace quendo {

// Keeps or drops what the settings form (TSettings) changed, free of widgets: OK keeps the options
// by writing "qnd.cfg", Cancel reads the file back, and "To change..." restarts the program into
// its first run.
class OptionsKeeper {
public:
    struct Parts {
        TransportButtons& buttons;
        MainDisplay& display;
        Dialogs& dialogs;
    };
    explicit OptionsKeeper(Parts parts) : p_(parts) {}

    // Wired by the owner of the configuration file and the main window.
    std::function<bool()> SaveConfiguration;
    std::function<bool()> LoadConfiguration;
    std::function<void()> CocktailsRestored;    // the cocktail lists follow the table read back
    std::function<void()> MixOffRestored;       // the gauge's range follows a Mix_OFF read back
    std::function<void()> RestartIntoFirstRun;  // close, delete both files, start again
    // Set by the form.
    std::function<void()> Hide;

    void BitBtn1Click();  // OK
    void BitBtn2Click();  // Cancel
    void Button2Click() { RestartWithNewFolder(); }
    void RestartWithNewFolder();

private:
    Parts p_;
};

}  // namespace quendo
