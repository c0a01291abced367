#pragma once
#include "model/Display.h"
#include "model/Platform.h"
#include "model/Options.h"

namespace quendo {

// What the settings logic needs of its owner, who keeps the configuration file, the cocktails,
// the decks and the forms.
class OptionsKeeperOwner {
public:
    virtual bool SaveConfiguration() = 0;
    virtual bool LoadConfiguration() = 0;
    virtual void CocktailsRestored() = 0;    // the cocktail lists follow the table read back
    virtual void MixOffRestored() = 0;       // the gauge's range follows a Mix_OFF read back
    virtual void RestartIntoFirstRun() = 0;  // close, delete both files, start again
    virtual void HideSettings() = 0;         // the settings form goes
    virtual void UseChosenOutput() = 0;      // a sound output chosen on the form takes over

protected:
    ~OptionsKeeperOwner() = default;
};

// Keeps or drops what the settings form (TSettings) changed, free of widgets: OK keeps the options
// by writing "qnd.cfg" (and the automix settings beside it) and moves the sound to the output
// chosen, Cancel reads the files back, and "To change..." restarts the program into
// its first run.
class OptionsKeeper {
public:
    struct Parts {
        TransportButtons& buttons;
        MainDisplay& display;
        Dialogs& dialogs;
        OptionsKeeperOwner& owner;
    };
    explicit OptionsKeeper(Parts parts) : p_(parts) {}

    void BitBtn1Click();  // OK
    void BitBtn2Click();  // Cancel
    void Button2Click() { RestartWithNewFolder(); }
    void RestartWithNewFolder();

private:
    Parts p_;
};

}  // namespace quendo
