#pragma once
#include <cstdint>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVariantMap>

namespace quendo {

class TForm1;

// The program as a desktop media player (MPRIS2: media keys, desktop media widgets, remotes).
// It reads the state the main window has just shown, after each of its renders, and acts only
// by clicking the window's own transport buttons, so a command from the bus does exactly what
// the user's click does. The core never knows it exists.
class Mpris final : public QObject {
    Q_OBJECT
public:
    // Registers on `bus` under the player's well-known name. Without a bus it does nothing, quietly.
    explicit Mpris(TForm1& window, QDBusConnection bus = QDBusConnection::sessionBus());
    ~Mpris() override;

    // The well-known name taken; empty when there is no bus.
    const QString& ServiceName() const { return service_; }

    // What the Player interface reports now.
    struct State {
        QString status;              // "Playing", "Paused" or "Stopped"
        std::uint64_t track = 0;     // tells a file played again from the one that played
        QString path;                // empty: no track
        qlonglong lengthUs = 0;
        bool canPlay = false;
        bool canPause = false;
        bool canGoNext = false;
        bool operator==(const State&) const = default;
    };
    State Read() const;
    QVariantMap Metadata(const State& s) const;
    qlonglong PositionUs() const;

    // The commands, through the buttons.
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Raise();
    void Quit();

Q_SIGNALS:
    void Seeked(qlonglong position);

private:
    void Rendered();
    bool Busy() const;

    TForm1& window_;
    QDBusConnection bus_;
    QString service_;
    State shown_;
    // Where the position was at the last render, to tell a jump from the time going by.
    qlonglong shownPositionUs_ = 0;
    QElapsedTimer sinceShown_;
};

}  // namespace quendo
