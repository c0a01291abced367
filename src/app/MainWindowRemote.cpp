#include "app/MainWindowRemote.h"

#include <QApplication>

#include "platform/qt/QtPlatform.h"

namespace quendo {

MainWindowRemote::~MainWindowRemote() { QObject::disconnect(rendered_); }

RemotePlayer::Status MainWindowRemote::PlaybackStatus() const {
    const Core& core = window_.core;
    DeckEngine& deck = window_.core.deck;
    if (deck.currentPath().empty()) return Status::Stopped;
    if (!core.buttons.Play) return Status::Paused;
    // A track that played to its end (crossfading off, nothing started after it) is over.
    return deck.isMixing() || deck.CurrentPlayer().PlayState() == psPlaying ? Status::Playing : Status::Stopped;
}

RemotePlayer::Track MainWindowRemote::CurrentTrack() const {
    DeckEngine& deck = window_.core.deck;
    Track t;
    t.path = deck.currentPath();
    if (t.path.empty()) return t;
    t.id = deck.tracksStarted();
    t.lengthSeconds = deck.CurrentPlayer().Duration();
    // As the title strip: the tags where the switch asks for them.
    const std::optional<TrackFacts>& facts = deck.currentFacts();
    if (window_.core.autoMix.showArtistAndTitle && facts) {
        t.artist = facts->tags.artist;
        t.title = facts->tags.title;
        t.album = facts->tags.album;
        t.trackNumber = facts->tags.trackNumber;
    }
    return t;
}

double MainWindowRemote::PositionSeconds() const {
    DeckEngine& deck = window_.core.deck;
    return deck.currentPath().empty() ? 0 : deck.CurrentPlayer().CurrentPosition();
}

// Stopped, UP starts the head of the playlist.
bool MainWindowRemote::HasTrackWaiting() const { return !window_.core.playlist.Empty(); }

bool MainWindowRemote::CanGoNext() const {
    return PlaybackStatus() != Status::Stopped && window_.core.display.NextEnabled;
}

// While a modal window is up the user cannot reach the buttons, and neither can a remote.
bool MainWindowRemote::Busy() const { return QApplication::activeModalWidget() != nullptr; }

void MainWindowRemote::Play() {
    if (Busy()) return;
    const Status s = PlaybackStatus();
    if (s == Status::Paused) {
        window_.Play->click();
    } else if (s == Status::Stopped && HasTrackWaiting()) {
        // UP pressed down starts the head track (released first when it is down), and Play, if it
        // is up, then plays it.
        if (window_.UP->isChecked()) window_.UP->click();
        window_.UP->click();
        if (!window_.Play->isChecked()) window_.Play->click();
    }
}

void MainWindowRemote::Pause() {
    if (!Busy() && PlaybackStatus() == Status::Playing) window_.Play->click();
}

void MainWindowRemote::Next() {
    if (!Busy() && CanGoNext()) window_.Next->click();
}

void MainWindowRemote::Raise() { BringToFront(window_); }

// As the close box does, with the session saved, from whatever modal loop is running.
void MainWindowRemote::Quit() {
    window_.close();
    EndEventLoops();
}

void MainWindowRemote::OnChange(std::function<void()> changed) {
    QObject::disconnect(rendered_);
    if (changed) rendered_ = QObject::connect(&window_, &TForm1::rendered, &window_, std::move(changed));
}

}  // namespace quendo
