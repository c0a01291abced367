#include "platform/qt/Mpris.h"

#include <cmath>
#include <cstdlib>

#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

namespace quendo {

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kService = QStringLiteral("org.mpris.MediaPlayer2.quendo");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPlaying = QStringLiteral("Playing");
const QString kPaused = QStringLiteral("Paused");
const QString kStopped = QStringLiteral("Stopped");

qlonglong Microseconds(double seconds) {
    return std::isfinite(seconds) ? std::llround(seconds * 1e6) : 0;
}

// org.mpris.MediaPlayer2
class RootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit RootAdaptor(Mpris* parent) : QDBusAbstractAdaptor(parent), mpris_(*parent) {}

    bool CanQuit() const { return true; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Quendo"); }
    QString DesktopEntry() const { return QStringLiteral("org.quendo.Quendo"); }
    QStringList SupportedUriSchemes() const { return {QStringLiteral("file")}; }
    // What the library scan takes.
    QStringList SupportedMimeTypes() const {
        return {QStringLiteral("audio/mpeg"), QStringLiteral("audio/x-ms-wma"), QStringLiteral("audio/wav"),
                QStringLiteral("audio/x-wav")};
    }

public Q_SLOTS:
    void Raise() { mpris_.Raise(); }
    void Quit() { mpris_.Quit(); }

private:
    Mpris& mpris_;
};

// org.mpris.MediaPlayer2.Player. The program has no previous track, no seek by the player and
// a fixed rate and volume: those are answered and ignored.
class PlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Fixed WRITE Ignore)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Fixed WRITE Ignore)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ Fixed)
    Q_PROPERTY(double MaximumRate READ Fixed)
    Q_PROPERTY(bool CanGoNext READ CanGoNext)
    Q_PROPERTY(bool CanGoPrevious READ No)
    Q_PROPERTY(bool CanPlay READ CanPlay)
    Q_PROPERTY(bool CanPause READ CanPause)
    Q_PROPERTY(bool CanSeek READ No)
    Q_PROPERTY(bool CanControl READ Yes)
public:
    explicit PlayerAdaptor(Mpris* parent) : QDBusAbstractAdaptor(parent), mpris_(*parent) {
        setAutoRelaySignals(true);  // Seeked
    }

    QString PlaybackStatus() const { return mpris_.Read().status; }
    QVariantMap Metadata() const { return mpris_.Metadata(mpris_.Read()); }
    qlonglong Position() const { return mpris_.PositionUs(); }
    bool CanGoNext() const { return mpris_.Read().canGoNext; }
    bool CanPlay() const { return mpris_.Read().canPlay; }
    bool CanPause() const { return mpris_.Read().canPause; }
    double Fixed() const { return 1.0; }
    void Ignore(double) {}
    bool No() const { return false; }
    bool Yes() const { return true; }

public Q_SLOTS:
    void Next() { mpris_.Next(); }
    void Previous() {}
    void Pause() { mpris_.Pause(); }
    void PlayPause() { mpris_.PlayPause(); }
    void Stop() { mpris_.Stop(); }
    void Play() { mpris_.Play(); }
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath&, qlonglong) {}
    void OpenUri(const QString&) {}

Q_SIGNALS:
    void Seeked(qlonglong Position);

private:
    Mpris& mpris_;
};

}  // namespace

Mpris::Mpris(RemotePlayer& player, QObject* parent, QDBusConnection bus)
    : QObject(parent), player_(player), bus_(std::move(bus)) {
    if (!bus_.isConnected()) return;
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    if (!bus_.registerObject(kObjectPath, this)) return;
    // A second copy of the program takes a name of its own, as the desktop expects.
    for (const QString& name : {kService, kService + QStringLiteral(".instance") + QString::number(QApplication::applicationPid())}) {
        if (bus_.registerService(name)) {
            service_ = name;
            break;
        }
    }
    if (service_.isEmpty()) {
        bus_.unregisterObject(kObjectPath);
        return;
    }
    shown_ = Read();
    shownPositionUs_ = PositionUs();
    sinceShown_.start();
    player_.OnChange([this] { Changed(); });
}

Mpris::~Mpris() {
    if (service_.isEmpty()) return;
    player_.OnChange(nullptr);
    bus_.unregisterService(service_);
    bus_.unregisterObject(kObjectPath);
}

Mpris::State Mpris::Read() const {
    State s;
    switch (player_.PlaybackStatus()) {
        case RemotePlayer::Status::Playing: s.status = kPlaying; break;
        case RemotePlayer::Status::Paused: s.status = kPaused; break;
        case RemotePlayer::Status::Stopped: s.status = kStopped; break;
    }
    s.track = player_.CurrentTrack();
    // A controller asks CanPlay before play, play-pause, stop and even before it shows the
    // metadata: it holds whenever there is a track to play, playing or not.
    s.canPause = s.status != kStopped;
    s.canPlay = s.canPause || player_.HasTrackWaiting();
    s.canGoNext = s.status != kStopped && player_.CanGoNext();
    return s;
}

QVariantMap Mpris::Metadata(const State& s) const {
    const RemotePlayer::Track& t = s.track;
    if (t.path.empty()) return {};
    const QString path = QString::fromStdString(t.path);
    QVariantMap m{
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/quendo/Quendo/Track/%1").arg(t.id)))},
        {QStringLiteral("mpris:length"), Microseconds(t.lengthSeconds)},
        {QStringLiteral("xesam:title"),
         t.title.empty() ? QFileInfo(path).completeBaseName() : QString::fromStdString(t.title)},
        {QStringLiteral("xesam:url"), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)},
    };
    // The field is a list: a track may have several artists, and the tag names them as one.
    if (!t.artist.empty()) m.insert(QStringLiteral("xesam:artist"), QStringList{QString::fromStdString(t.artist)});
    if (!t.album.empty()) m.insert(QStringLiteral("xesam:album"), QString::fromStdString(t.album));
    if (t.trackNumber > 0) m.insert(QStringLiteral("xesam:trackNumber"), t.trackNumber);
    return m;
}

qlonglong Mpris::PositionUs() const {
    return player_.CurrentTrack().path.empty() ? 0 : Microseconds(player_.PositionSeconds());
}

void Mpris::Changed() {
    const State now = Read();
    const qlonglong position = PositionUs();
    // A position that moved other than with the time (Next, a click on the title strip) is a seek;
    // one that stands still (at the end of the file) is not.
    if (now.track.id == shown_.track.id && now.status != kStopped && position != shownPositionUs_) {
        const qlonglong expected = shownPositionUs_ + (shown_.status == kPlaying ? sinceShown_.elapsed() * 1000 : 0);
        if (std::llabs(position - expected) > 1'000'000) emit Seeked(position);
    }
    shownPositionUs_ = position;
    sinceShown_.restart();
    if (now == shown_) return;

    QVariantMap changed;
    if (now.status != shown_.status) changed.insert(QStringLiteral("PlaybackStatus"), now.status);
    if (now.track != shown_.track) changed.insert(QStringLiteral("Metadata"), Metadata(now));
    if (now.canPlay != shown_.canPlay) changed.insert(QStringLiteral("CanPlay"), now.canPlay);
    if (now.canPause != shown_.canPause) changed.insert(QStringLiteral("CanPause"), now.canPause);
    if (now.canGoNext != shown_.canGoNext) changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
    shown_ = now;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    bus_.send(signal);
}

void Mpris::Play() { player_.Play(); }

void Mpris::Pause() { player_.Pause(); }

void Mpris::PlayPause() {
    if (player_.PlaybackStatus() == RemotePlayer::Status::Playing) player_.Pause();
    else player_.Play();
}

// The program has no stop: the nearest command silences the track, and it stays where it is.
void Mpris::Stop() { player_.Pause(); }

void Mpris::Next() { player_.Next(); }

void Mpris::Raise() { player_.Raise(); }

void Mpris::Quit() { player_.Quit(); }

}  // namespace quendo

#include "Mpris.moc"
