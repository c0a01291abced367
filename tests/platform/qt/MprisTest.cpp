#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QProcess>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <vector>

#include "app/Application.h"
#include "platform/qt/Mpris.h"
#include "support/Audio.h"
#include "support/Fakes.h"

using namespace quendo;
using quendo::testing::TempDir;
using quendo::testing::ToneWav;

namespace {

const QString kService = QStringLiteral("org.mpris.MediaPlayer2.quendo");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// What a desktop media widget sees: a connection of its own to the session bus.
class Remote : public QObject {
    Q_OBJECT
public:
    Remote() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("remote"))) {
        bus_.connect(kService, kPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                     SLOT(Changed(QString, QVariantMap, QStringList)));
        bus_.connect(kService, kPath, kPlayer, QStringLiteral("Seeked"), this, SLOT(Moved(qlonglong)));
    }
    ~Remote() override { QDBusConnection::disconnectFromBus(QStringLiteral("remote")); }
    bool Connected() const { return bus_.isConnected(); }

    QVariant Get(const QString& interface, const QString& name) {
        QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, kProperties, QStringLiteral("Get"));
        get << interface << name;
        const QDBusMessage reply = bus_.call(get, QDBus::BlockWithGui, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            ADD_FAILURE() << name.toStdString() << ": " << reply.errorMessage().toStdString();
            return {};
        }
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    QString Status() { return Get(kPlayer, QStringLiteral("PlaybackStatus")).toString(); }
    QVariantMap Metadata() { return qdbus_cast<QVariantMap>(Get(kPlayer, QStringLiteral("Metadata"))); }
    void Call(const QString& method) {
        const QDBusMessage reply =
            bus_.call(QDBusMessage::createMethodCall(kService, kPath, kPlayer, method), QDBus::BlockWithGui, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method.toStdString();
    }
    // The changes of one player property announced so far, oldest first.
    std::vector<QVariant> Announced(const QString& name) const {
        std::vector<QVariant> values;
        for (const QVariantMap& m : changes)
            if (m.contains(name)) values.push_back(m.value(name));
        return values;
    }

    std::vector<QVariantMap> changes;
    int seeks = 0;

private Q_SLOTS:
    void Changed(const QString& interface, const QVariantMap& changed, const QStringList&) {
        if (interface == kPlayer) changes.push_back(changed);
    }
    void Moved(qlonglong) { ++seeks; }

private:
    QDBusConnection bus_;
};

QString Title(const QVariant& metadata) {
    return qdbus_cast<QVariantMap>(metadata).value(QStringLiteral("xesam:title")).toString();
}

// The common command-line controller, run on the test's bus as a user would; its output.
QString Playerctl(const QString& command) {
    QProcess p;
    p.start(QStringLiteral("playerctl"), QStringList{QStringLiteral("--player=quendo")} + command.split(' '));
    // The program answers from this process's event loop.
    EXPECT_TRUE(p.waitForStarted(5000) && QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(p.exitCode(), 0) << command.toStdString() << ": " << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// A WAV file with RIFF INFO tags after its sound, as many tools write them.
std::string WithInfoTags(std::string wav, const std::vector<std::pair<std::string, std::string>>& tags) {
    auto le32 = [](std::size_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    std::string info = "INFO";
    for (auto [id, text] : tags) {
        text.append(text.size() % 2 ? 1 : 2, '\0');  // NUL-ended, padded to an even length
        info += id + le32(text.size()) + text;
    }
    wav += "LIST" + le32(info.size()) + info;
    return wav.replace(4, 4, le32(wav.size() - 8));
}

// A player as the test sets it, and the commands it was given.
struct FakeRemotePlayer final : RemotePlayer {
    Status status = Status::Stopped;
    Track track;
    bool waiting = false, next = false;
    std::vector<std::string> commands;
    Status PlaybackStatus() const override { return status; }
    Track CurrentTrack() const override { return track; }
    double PositionSeconds() const override { return 0; }
    bool HasTrackWaiting() const override { return waiting; }
    bool CanGoNext() const override { return next; }
    void Play() override { commands.push_back("Play"); }
    void Pause() override { commands.push_back("Pause"); }
    void Next() override { commands.push_back("Next"); }
    void Raise() override {}
    void Quit() override {}
    void OnChange(std::function<void()>) override {}
};

// What a controller reads before it acts: CanPlay whenever there is a track to play, playing or
// not; CanPause while one plays or is paused; a loaded track always has its id.
TEST(Mpris, TellsAControllerWhatItMayDoInEveryState) {
    using S = RemotePlayer::Status;
    FakeRemotePlayer player;
    Mpris mpris(player);
    Remote remote;
    struct Row {
        S status;
        bool loaded, waiting, next, canPlay, canPause, canGoNext;
        const char* playPause;  // what PlayPause asks of the player
    };
    const std::vector<Row> rows{{S::Stopped, false, false, false, false, false, false, "Play"},
                                {S::Stopped, false, true, false, true, false, false, "Play"},
                                {S::Playing, true, false, true, true, true, true, "Pause"},
                                {S::Paused, true, true, true, true, true, true, "Play"},
                                {S::Stopped, true, false, true, false, false, false, "Play"}};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        const Row& r = rows[i];
        player.status = r.status;
        player.track = r.loaded ? RemotePlayer::Track{7, "/music/a.mp3", 200.5} : RemotePlayer::Track{};
        player.waiting = r.waiting;
        player.next = r.next;
        player.commands.clear();
        EXPECT_EQ(remote.Get(kPlayer, QStringLiteral("CanPlay")).toBool(), r.canPlay);
        EXPECT_EQ(remote.Get(kPlayer, QStringLiteral("CanPause")).toBool(), r.canPause);
        EXPECT_EQ(remote.Get(kPlayer, QStringLiteral("CanGoNext")).toBool(), r.canGoNext);
        EXPECT_EQ(remote.Metadata().value("mpris:trackid").value<QDBusObjectPath>().path(),
                  r.loaded ? "/org/quendo/Quendo/Track/7" : "");
        remote.Call(QStringLiteral("PlayPause"));
        remote.Call(QStringLiteral("Stop"));  // the program has no stop: it pauses
        EXPECT_EQ(player.commands, (std::vector<std::string>{r.playPause, "Pause"}));
    }
}

// The real engine on the dummy driver plays two short files with a one-second mix, and a remote
// follows and drives it over the bus. It sees the tags a file carries as the title strip shows
// them (the artist as a list, the title tag before the file's name), and an untagged file by name.
TEST(Mpris, ARemoteFollowsThePlayingTrackAndDrivesTheTransportButtons) {
    TempDir dir;
    dir.WriteFile("a.wav", WithInfoTags(ToneWav(8, 440, 0.3), {{"IART", "Under Tow"}, {"INAM", "Tide Line"},
                                                                {"IPRD", "Harbour"}, {"IPRT", "3"}}));
    dir.WriteFile("b.wav", ToneWav(8, 660, 0.3));
    Application app(dir / "quendo");
    TForm1& f = app.Form1();
    Core& c = app.core();
    c.nodes.MusicFolder = dir.path() + "/";
    const std::int32_t a = c.nodes.AddFileNode(0, "a.wav");
    const std::int32_t b = c.nodes.AddFileNode(0, "b.wav");
    c.options.RadioGroup2 = epWait;
    c.envelope.SetMixLength(10);
    c.autoMix.joinContinuousAlbums = false;  // two tones in one folder would run on as an album, unmixed
    c.envelope.SetFinishingPosition(10);
    c.buttons.UP = true;
    f.Render();

    Remote remote;
    ASSERT_TRUE(remote.Connected());
    EXPECT_EQ(remote.Get(kRoot, QStringLiteral("Identity")).toString(), "Quendo");
    EXPECT_EQ(remote.Get(kRoot, QStringLiteral("DesktopEntry")).toString(), "org.quendo.Quendo");
    EXPECT_TRUE(remote.Get(kRoot, QStringLiteral("CanRaise")).toBool());
    EXPECT_EQ(remote.Status(), "Stopped");
    EXPECT_TRUE(remote.Metadata().isEmpty());
    EXPECT_FALSE(remote.Get(kPlayer, QStringLiteral("CanPlay")).toBool());

    f.Act([&] {
        c.playlist.AddToPlaylist(a);
        c.playlist.AddToPlaylist(b);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !remote.Announced(QStringLiteral("PlaybackStatus")).empty(); }, 5000));
    EXPECT_EQ(remote.Announced(QStringLiteral("PlaybackStatus")).back().toString(), "Playing");
    EXPECT_EQ(remote.Status(), "Playing");
    ASSERT_TRUE(QTest::qWaitFor([&] { return remote.Metadata().contains("xesam:artist"); }, 10000));
    const QVariantMap playing = remote.Metadata();
    EXPECT_EQ(playing.value("xesam:title").toString(), "Tide Line");
    EXPECT_EQ(qdbus_cast<QStringList>(playing.value("xesam:artist")), QStringList{"Under Tow"});
    EXPECT_EQ(playing.value("xesam:trackNumber").userType(), QMetaType::Int);
    EXPECT_EQ(playing.value("xesam:trackNumber").toInt(), 3);
    EXPECT_EQ(playing.value("xesam:url").toString(), QUrl::fromLocalFile(QString::fromStdString(dir / "a.wav")).toString());
    EXPECT_EQ(playing.value("mpris:length").toLongLong(), 8'000'000);
    EXPECT_FALSE(playing.value("mpris:trackid").value<QDBusObjectPath>().path().isEmpty());
    EXPECT_EQ(Playerctl(QStringLiteral("metadata title")), "Tide Line");
    EXPECT_EQ(Playerctl(QStringLiteral("metadata album")), "Harbour");
    c.autoMix.showArtistAndTitle = false;  // the remote sees the file's name, as the title strip does
    EXPECT_EQ(remote.Metadata().value("xesam:title").toString(), "a");
    EXPECT_FALSE(remote.Metadata().contains("xesam:artist"));
    QTest::qWait(400);
    const qlonglong position = remote.Get(kPlayer, QStringLiteral("Position")).toLongLong();
    EXPECT_GT(position, 0);
    EXPECT_LT(position, 8'000'000);

    // Pause and play again are the Play button's clicks: the window shows them. The common
    // command-line controller gets its way too.
    Playerctl(QStringLiteral("play-pause"));
    EXPECT_FALSE(f.Play->isChecked());
    EXPECT_EQ(c.deck.CurrentPlayer().PlayState(), psPaused);
    EXPECT_EQ(remote.Status(), "Paused");
    remote.Call(QStringLiteral("PlayPause"));
    EXPECT_TRUE(f.Play->isChecked());
    EXPECT_EQ(remote.Status(), "Playing");
    Playerctl(QStringLiteral("stop"));
    EXPECT_EQ(Playerctl(QStringLiteral("status")), "Paused");
    remote.Call(QStringLiteral("Play"));
    EXPECT_EQ(remote.Status(), "Playing");

    // Next is the Next button's: a mix starts, during which Next can do nothing, and at its end
    // the other track is the one playing.
    ASSERT_TRUE(remote.Get(kPlayer, QStringLiteral("CanGoNext")).toBool());
    remote.Call(QStringLiteral("Next"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return remote.seeks > 0; }, 2000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.deck.isMixing(); }, 3000));
    EXPECT_FALSE(remote.Get(kPlayer, QStringLiteral("CanGoNext")).toBool());
    const auto announced = [&] { return remote.Announced(QStringLiteral("Metadata")); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return announced().size() >= 2 && Title(announced().back()) == "b"; }, 5000));
    EXPECT_EQ(remote.Metadata().value("xesam:title").toString(), "b");
    const std::vector<QVariant> canGoNext = remote.Announced(QStringLiteral("CanGoNext"));
    ASSERT_GE(canGoNext.size(), 2u);
    EXPECT_FALSE(canGoNext[canGoNext.size() - 2].toBool());
    EXPECT_TRUE(canGoNext.back().toBool());
    EXPECT_EQ(remote.Status(), "Playing");
}

}  // namespace

#include "MprisTest.moc"
