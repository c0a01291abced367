#pragma once
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "platform/qt/RemotePlayer.h"

namespace quendo {

// The program as a desktop media player (MPRIS2: media keys, desktop media widgets, remotes).
// It knows the player only as a remote sees it, reads it after each word of a change, and passes
// the bus's commands on; the core never knows it exists.
class Mpris final : public QObject {
    Q_OBJECT
public:
    // Registers on `bus` under the player's well-known name. Without a bus it does nothing, quietly.
    explicit Mpris(RemotePlayer& player, QObject* parent = nullptr,
                   QDBusConnection bus = QDBusConnection::sessionBus());
    ~Mpris() override;

    // The well-known name taken; empty when there is no bus.
    const QString& ServiceName() const { return service_; }

    // What the Player interface reports now.
    struct State {
        QString status;  // "Playing", "Paused" or "Stopped"
        RemotePlayer::Track track;
        bool canPlay = false;
        bool canPause = false;
        bool canGoNext = false;
        bool operator==(const State&) const = default;
    };
    State Read() const;
    QVariantMap Metadata(const State& s) const;
    qlonglong PositionUs() const;

    // The bus's commands.
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
    void Changed();

    RemotePlayer& player_;
    QDBusConnection bus_;
    QString service_;
    State shown_;
    // Where the position was at the last change, to tell a jump from the time going by.
    qlonglong shownPositionUs_ = 0;
    QElapsedTimer sinceShown_;
};

}  // namespace quendo
