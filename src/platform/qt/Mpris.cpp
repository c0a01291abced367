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

#include "app/MainWindow.h"
#include "platform/qt/QtPlatform.h"

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

Mpris::Mpris(TForm1& window, QDBusConnection bus) : QObject(&window), window_(window), bus_(std::move(bus)) {
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
    connect(&window_, &TForm1::rendered, this, &Mpris::Rendered);
}

Mpris::~Mpris() {
    if (service_.isEmpty()) return;
    bus_.unregisterService(service_);
    bus_.unregisterObject(kObjectPath);
}

Mpris::State Mpris::Read() const {
    Core& core = window_.core;
    DeckEngine& deck = core.deck;
    State s;
    s.path = QString::fromStdString(deck.currentPath());
    const bool loaded = !s.path.isEmpty();
    if (!loaded) {
        s.status = kStopped;
    } else if (!core.buttons.Play) {
        s.status = kPaused;
    } else {
        // A track that played to its end (crossfading off, nothing started after it) is over.
        s.status = deck.isMixing() || deck.CurrentPlayer().PlayState() == psPlaying ? kPlaying : kStopped;
    }
    if (loaded) {
        s.track = deck.tracksStarted();
        s.lengthUs = Microseconds(deck.CurrentPlayer().Duration());
    }
    s.canPause = s.status == kPlaying;
    // Stopped, UP starts the head of the playlist.
    s.canPlay = s.status == kPaused || (s.status == kStopped && !core.playlist.Empty());
    s.canGoNext = s.status != kStopped && core.display.NextEnabled;
    return s;
}

QVariantMap Mpris::Metadata(const State& s) const {
    if (s.path.isEmpty()) return {};
    return {
        {QStringLiteral("mpris:trackid"),
         QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/quendo/Quendo/Track/%1").arg(s.track)))},
        {QStringLiteral("mpris:length"), s.lengthUs},
        {QStringLiteral("xesam:title"), QFileInfo(s.path).completeBaseName()},
        {QStringLiteral("xesam:url"), QUrl::fromLocalFile(s.path).toString(QUrl::FullyEncoded)},
    };
}

qlonglong Mpris::PositionUs() const {
    DeckEngine& deck = window_.core.deck;
    return deck.currentPath().empty() ? 0 : Microseconds(deck.CurrentPlayer().CurrentPosition());
}

void Mpris::Rendered() {
    const State now = Read();
    const qlonglong position = PositionUs();
    // A position that moved other than with the time (Next, a click on the title strip) is a seek;
    // one that stands still (at the end of the file) is not.
    if (now.track == shown_.track && now.status != kStopped && position != shownPositionUs_) {
        const qlonglong expected = shownPositionUs_ + (shown_.status == kPlaying ? sinceShown_.elapsed() * 1000 : 0);
        if (std::llabs(position - expected) > 1'000'000) emit Seeked(position);
    }
    shownPositionUs_ = position;
    sinceShown_.restart();
    if (now == shown_) return;

    QVariantMap changed;
    if (now.status != shown_.status) changed.insert(QStringLiteral("PlaybackStatus"), now.status);
    if (now.track != shown_.track || now.path != shown_.path || now.lengthUs != shown_.lengthUs)
        changed.insert(QStringLiteral("Metadata"), Metadata(now));
    if (now.canPlay != shown_.canPlay) changed.insert(QStringLiteral("CanPlay"), now.canPlay);
    if (now.canPause != shown_.canPause) changed.insert(QStringLiteral("CanPause"), now.canPause);
    if (now.canGoNext != shown_.canGoNext) changed.insert(QStringLiteral("CanGoNext"), now.canGoNext);
    shown_ = now;
    QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    bus_.send(signal);
}

// While a modal window is up the user cannot reach the buttons, and neither can the bus.
bool Mpris::Busy() const { return QApplication::activeModalWidget() != nullptr; }

void Mpris::Play() {
    if (Busy()) return;
    const State s = Read();
    if (s.status == kPaused) {
        window_.Play->click();
    } else if (s.canPlay) {
        // UP pressed down starts the head track (released first when it is down), and Play, if it
        // is up, then plays it.
        if (window_.UP->isChecked()) window_.UP->click();
        window_.UP->click();
        if (!window_.Play->isChecked()) window_.Play->click();
    }
}

void Mpris::Pause() {
    if (!Busy() && Read().status == kPlaying) window_.Play->click();
}

void Mpris::PlayPause() {
    if (Read().status == kPlaying) Pause();
    else Play();
}

// The program has no stop: the nearest button silences the track, and it stays where it is.
void Mpris::Stop() { Pause(); }

void Mpris::Next() {
    if (!Busy() && Read().canGoNext) window_.Next->click();
}

void Mpris::Raise() { BringToFront(window_); }

// As the close box does, with the session saved, from whatever modal loop is running.
void Mpris::Quit() {
    window_.close();
    EndEventLoops();
}

}  // namespace quendo

#include "Mpris.moc"
