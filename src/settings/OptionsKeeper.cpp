#include "settings/OptionsKeeper.h"

namespace quendo {

void OptionsKeeper::BitBtn1Click() {
    // A file that cannot be written has been reported; the form goes all the same.
    p_.owner.SaveConfiguration();
    p_.owner.UseChosenOutput();
    p_.owner.HideSettings();
}

void OptionsKeeper::BitBtn2Click() {
    const bool mixOffBefore = p_.buttons.Mix_OFF;
    if (p_.owner.LoadConfiguration()) {
        // The buttons were set without their click actions; what the strip shows follows their
        // states as it does at start-up, in both directions.
        ShowRepeatAndShuffle(p_.buttons, p_.display);
        if (p_.buttons.Mix_OFF != mixOffBefore) p_.owner.MixOffRestored();
        // Names, the current cocktail and its folders may all have been put back.
        p_.owner.CocktailsRestored();
    }
    p_.owner.HideSettings();
}

void OptionsKeeper::RestartWithNewFolder() {
    if (p_.dialogs.Message("For continuation is necessary restart of the application. To continue?",
                           MsgIcon::Warning, MsgButtons::OkCancel, MsgPlace::Centred) != MsgAnswer::Ok)
        return;
    p_.owner.RestartIntoFirstRun();
}

}  // namespace quendo
