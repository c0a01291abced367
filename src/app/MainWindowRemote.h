#pragma once
#include <QMetaObject>

#include "app/MainWindow.h"
#include "platform/qt/RemotePlayer.h"

namespace quendo {

// The main window as a remote sees it: what the window has just shown, and its transport buttons,
// so that a remote's command does exactly what the user's click does.
class MainWindowRemote final : public RemotePlayer {
public:
    explicit MainWindowRemote(TForm1& window) : window_(window) {}
    ~MainWindowRemote();
    MainWindowRemote(const MainWindowRemote&) = delete;
    MainWindowRemote& operator=(const MainWindowRemote&) = delete;

    Status PlaybackStatus() const override;
    Track CurrentTrack() const override;
    double PositionSeconds() const override;
    bool HasTrackWaiting() const override;
    bool CanGoNext() const override;
    void Play() override;
    void Pause() override;
    void Next() override;
    void Raise() override;
    void Quit() override;
    // After each of the window's renders.
    void OnChange(std::function<void()> changed) override;

private:
    bool Busy() const;

    TForm1& window_;
    QMetaObject::Connection rendered_;
};

}  // namespace quendo
