#pragma once
#include "model/AutoMixOptions.h"
#include "model/Options.h"
#include "model/PlatformServices.h"

namespace quendo {

// What the settings form shows and changes: the options, which it holds for everyone (a change
// takes effect at once), the platform it lists devices and progress from, and the steps behind
// its buttons.
class SettingsModel {
public:
    explicit SettingsModel(PlatformServices services) : platform(services) {}

    PlatformServices platform;
    Options options;
    AutoMixOptions autoMix;  // kept in a file of its own beside the configuration

    virtual void SetAlwaysOnTop(bool on) = 0;  // the box set by the program counts as a click
    virtual void KeepOptions() = 0;            // OK: written to the files
    virtual void DropOptionChanges() = 0;      // Cancel: read back from the files
    virtual void ChangeMusicFolder() = 0;      // "To change...": asks, then restarts into a first run

protected:
    SettingsModel(const SettingsModel&) = delete;
    SettingsModel& operator=(const SettingsModel&) = delete;
    ~SettingsModel() = default;
};

// What the directory chooser asks of the start-up.
class FolderChoiceOwner {
public:
    // Cancel's two questions: true to show the chooser again.
    virtual bool BrowseCancelClick() = 0;

protected:
    ~FolderChoiceOwner() = default;
};

}  // namespace quendo
