#include "MprisBus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tessura::remote {

namespace {

constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";

MprisBus& self(void* userdata) { return *static_cast<MprisBus*>(userdata); }

int appendStrings(sd_bus_message* reply, const std::vector<std::string>& strings) {
    int r = sd_bus_message_open_container(reply, 'a', "s");
    for (const std::string& s : strings) {
        if (r >= 0) r = sd_bus_message_append(reply, "s", s.c_str());
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
    return r;
}

int appendMetadata(sd_bus_message* reply, const MprisTrack& track) {
    int r = sd_bus_message_open_container(reply, 'a', "{sv}");
    const std::string path = track.objectPath();
    if (r >= 0) r = sd_bus_message_append(reply, "{sv}", "mpris:trackid", "o", path.c_str());
    if (track.serial != 0) {
        if (r >= 0 && track.lengthUs > 0)
            r = sd_bus_message_append(reply, "{sv}", "mpris:length", "x", static_cast<int64_t>(track.lengthUs));
        if (r >= 0) r = sd_bus_message_append(reply, "{sv}", "xesam:title", "s", track.title.c_str());
        if (r >= 0 && !track.artist.empty())
            r = sd_bus_message_append(reply, "{sv}", "xesam:artist", "as", 1, track.artist.c_str());
        const std::string url = UrlFromEntry(track.entry);
        if (r >= 0) r = sd_bus_message_append(reply, "{sv}", "xesam:url", "s", url.c_str());
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
    return r;
}

int appendBool(sd_bus_message* reply, bool value) { return sd_bus_message_append(reply, "b", value ? 1 : 0); }

}  // namespace

// The bus's callbacks: each reads what it needs, posts a command and answers at once.
struct MprisBusCalls {
    static int simple(sd_bus_message* m, void* userdata, MprisAction action) {
        MprisBus& bus = self(userdata);
        MprisCommand command;
        command.action = action;
        bus.post_(std::move(command));
        return sd_bus_reply_method_return(m, "");
    }
    static int raise(sd_bus_message* m, void* u, sd_bus_error*) { return simple(m, u, MprisAction::Raise); }
    static int quit(sd_bus_message* m, void* u, sd_bus_error*) { return simple(m, u, MprisAction::Quit); }
    static int play(sd_bus_message* m, void* u, sd_bus_error*) { return simple(m, u, MprisAction::Play); }
    static int pause(sd_bus_message* m, void* u, sd_bus_error*) { return simple(m, u, MprisAction::Pause); }
    static int playPause(sd_bus_message* m, void* u, sd_bus_error*) { return simple(m, u, MprisAction::PlayPause); }
    static int stop(sd_bus_message* m, void* u, sd_bus_error*) { return simple(m, u, MprisAction::Stop); }
    static int next(sd_bus_message* m, void* u, sd_bus_error*) { return simple(m, u, MprisAction::Next); }
    static int previous(sd_bus_message* m, void* u, sd_bus_error*) { return simple(m, u, MprisAction::Previous); }

    static int seek(sd_bus_message* m, void* userdata, sd_bus_error*) {
        int64_t offset = 0;
        const int r = sd_bus_message_read(m, "x", &offset);
        if (r < 0) return r;
        self(userdata).post_(MprisCommand{MprisAction::SeekBy, offset, {}});
        return sd_bus_reply_method_return(m, "");
    }

    static int setPosition(sd_bus_message* m, void* userdata, sd_bus_error*) {
        const char* track = nullptr;
        int64_t position = 0;
        const int r = sd_bus_message_read(m, "ox", &track, &position);
        if (r < 0) return r;
        self(userdata).post_(MprisCommand{MprisAction::SetPosition, position, track});
        return sd_bus_reply_method_return(m, "");
    }

    static int openUri(sd_bus_message* m, void* userdata, sd_bus_error* error) {
        const char* uri = nullptr;
        const int r = sd_bus_message_read(m, "s", &uri);
        if (r < 0) return r;
        std::optional<std::string> entry = EntryFromUri(uri);
        if (!entry) return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "tessura cannot open this URI");
        self(userdata).post_(MprisCommand{MprisAction::OpenUri, 0, std::move(*entry)});
        return sd_bus_reply_method_return(m, "");
    }

    // Properties. The signature of every getter is the bus's.
#define TESSURA_MPRIS_GETTER(name)                                                                             \
    static int name(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata, \
                    sd_bus_error*)
    TESSURA_MPRIS_GETTER(identity) {
        return sd_bus_message_append(reply, "s", self(userdata).model_.options().identity.c_str());
    }
    TESSURA_MPRIS_GETTER(desktopEntry) {
        return sd_bus_message_append(reply, "s", self(userdata).model_.options().desktopEntry.c_str());
    }
    TESSURA_MPRIS_GETTER(canQuit) { return appendBool(reply, self(userdata).model_.options().canQuit); }
    TESSURA_MPRIS_GETTER(canRaise) { return appendBool(reply, self(userdata).model_.options().canRaise); }
    TESSURA_MPRIS_GETTER(yes) { return (void)userdata, appendBool(reply, true); }
    TESSURA_MPRIS_GETTER(no) { return (void)userdata, appendBool(reply, false); }
    TESSURA_MPRIS_GETTER(one) { return (void)userdata, sd_bus_message_append(reply, "d", 1.0); }
    TESSURA_MPRIS_GETTER(uriSchemes) { return appendStrings(reply, self(userdata).model_.options().uriSchemes); }
    TESSURA_MPRIS_GETTER(mimeTypes) { return appendStrings(reply, self(userdata).model_.options().mimeTypes); }
    TESSURA_MPRIS_GETTER(playbackStatus) {
        return sd_bus_message_append(reply, "s", PlaybackStatusName(self(userdata).model_.snapshot().status));
    }
    TESSURA_MPRIS_GETTER(metadata) { return appendMetadata(reply, self(userdata).model_.snapshot().track); }
    TESSURA_MPRIS_GETTER(volume) { return sd_bus_message_append(reply, "d", self(userdata).model_.snapshot().volume); }
    TESSURA_MPRIS_GETTER(position) {
        return sd_bus_message_append(reply, "x", static_cast<int64_t>(self(userdata).model_.snapshot().positionUs));
    }
    TESSURA_MPRIS_GETTER(canSeek) { return appendBool(reply, self(userdata).model_.snapshot().canSeek); }
    TESSURA_MPRIS_GETTER(loopStatus) {
        return sd_bus_message_append(reply, "s", LoopStatusName(self(userdata).model_.snapshot().repeatMode));
    }
    TESSURA_MPRIS_GETTER(shuffle) { return appendBool(reply, self(userdata).model_.snapshot().shuffle); }
#undef TESSURA_MPRIS_GETTER

    static int setVolume(sd_bus*, const char*, const char*, const char*, sd_bus_message* value, void* userdata,
                         sd_bus_error* error) {
        double fraction = 0;
        const int r = sd_bus_message_read(value, "d", &fraction);
        if (r < 0) return r;
        const std::optional<uint32_t> level = VolumeFromFraction(fraction);
        if (!level) return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "the volume is not a number");
        // The new value is announced when the player has taken it.
        self(userdata).post_(MprisCommand{MprisAction::SetVolume, *level, {}});
        return 0;
    }

    static int setLoopStatus(sd_bus*, const char*, const char*, const char*, sd_bus_message* value, void* userdata,
                             sd_bus_error* error) {
        const char* status = nullptr;
        const int r = sd_bus_message_read(value, "s", &status);
        if (r < 0) return r;
        const std::optional<int> mode = RepeatModeFromLoopStatus(status);
        if (!mode) return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "the loop status is None, Track or Playlist");
        self(userdata).post_(MprisCommand{MprisAction::SetLoopStatus, *mode, {}});
        return 0;
    }

    static int setShuffle(sd_bus*, const char*, const char*, const char*, sd_bus_message* value, void* userdata,
                          sd_bus_error*) {
        int on = 0;
        const int r = sd_bus_message_read(value, "b", &on);
        if (r < 0) return r;
        self(userdata).post_(MprisCommand{MprisAction::SetShuffle, on != 0 ? 1 : 0, {}});
        return 0;
    }

    static const sd_bus_vtable* rootTable() {
        static const sd_bus_vtable table[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Raise", "", "", raise, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Quit", "", "", quit, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_PROPERTY("Identity", "s", identity, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("DesktopEntry", "s", desktopEntry, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("CanQuit", "b", canQuit, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("CanRaise", "b", canRaise, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("HasTrackList", "b", no, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("SupportedUriSchemes", "as", uriSchemes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("SupportedMimeTypes", "as", mimeTypes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_VTABLE_END};
        return table;
    }

    static const sd_bus_vtable* playerTable() {
        static const sd_bus_vtable table[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Next", "", "", next, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Previous", "", "", previous, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Pause", "", "", pause, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("PlayPause", "", "", playPause, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Stop", "", "", stop, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("Play", "", "", play, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD_WITH_NAMES("Seek", "x", SD_BUS_PARAM(Offset), "", , seek, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD_WITH_NAMES("SetPosition", "ox", SD_BUS_PARAM(TrackId) SD_BUS_PARAM(Position), "", ,
                                     setPosition, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD_WITH_NAMES("OpenUri", "s", SD_BUS_PARAM(Uri), "", , openUri, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_SIGNAL_WITH_NAMES("Seeked", "x", SD_BUS_PARAM(Position), 0),
            SD_BUS_PROPERTY("PlaybackStatus", "s", playbackStatus, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
            SD_BUS_WRITABLE_PROPERTY("LoopStatus", "s", loopStatus, setLoopStatus, 0,
                                     SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE | SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_WRITABLE_PROPERTY("Shuffle", "b", shuffle, setShuffle, 0,
                                     SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE | SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_PROPERTY("Rate", "d", one, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("MinimumRate", "d", one, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("MaximumRate", "d", one, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("Metadata", "a{sv}", metadata, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
            SD_BUS_WRITABLE_PROPERTY("Volume", "d", volume, setVolume, 0,
                                     SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE | SD_BUS_VTABLE_UNPRIVILEGED),
            // The position moves on by itself: controllers ask for it, nothing announces it.
            SD_BUS_PROPERTY("Position", "x", position, 0, 0),
            SD_BUS_PROPERTY("CanGoNext", "b", yes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("CanGoPrevious", "b", yes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("CanPlay", "b", yes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("CanPause", "b", yes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_PROPERTY("CanSeek", "b", canSeek, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
            SD_BUS_PROPERTY("CanControl", "b", yes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
            SD_BUS_VTABLE_END};
        return table;
    }
};

MprisBus::MprisBus(MprisModel& model, Post post) : model_(model), post_(std::move(post)) {}

std::unique_ptr<MprisBus> MprisBus::open(MprisModel& model, Post post, const std::string& address,
                                         std::string* error) {
    std::unique_ptr<MprisBus> bus(new MprisBus(model, std::move(post)));
    std::string reason;
    if (!bus->start(address, reason)) {
        if (error) *error = reason;
        return nullptr;
    }
    model.setChangeListener([raw = bus.get()] { raw->wake(); });
    bus->listening_ = true;
    bus->rearm();
    return bus;
}

bool MprisBus::start(const std::string& address, std::string& error) {
    auto failed = [&](const char* what, int r) {
        error = std::string(what) + ": " + std::strerror(r < 0 ? -r : r);
        return false;
    };
    int r = 0;
    if (address.empty()) {
        r = sd_bus_open_user(&bus_);
        if (r < 0) return failed("no session bus", r);
    } else {
        r = sd_bus_new(&bus_);
        if (r < 0) return failed("sd_bus_new", r);
        r = sd_bus_set_address(bus_, address.c_str());
        if (r >= 0) r = sd_bus_set_bus_client(bus_, 1);
        if (r >= 0) r = sd_bus_start(bus_);
        if (r < 0) return failed("cannot connect to the bus", r);
    }
    r = sd_bus_add_object_vtable(bus_, &rootSlot_, kMprisObjectPath, kRootInterface, MprisBusCalls::rootTable(),
                                 this);
    if (r >= 0)
        r = sd_bus_add_object_vtable(bus_, &playerSlot_, kMprisObjectPath, kPlayerInterface,
                                     MprisBusCalls::playerTable(), this);
    if (r < 0) return failed("cannot publish the objects", r);

    busName_ = kMprisBusName;
    r = sd_bus_request_name(bus_, busName_.c_str(), 0);
    if (r == -EEXIST) {
        // Another player of ours holds the plain name: this one goes by its process.
        busName_ += ".instance" + std::to_string(getpid());
        r = sd_bus_request_name(bus_, busName_.c_str(), 0);
    }
    if (r < 0) return failed("cannot own the bus name", r);

    busFd_ = sd_bus_get_fd(bus_);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (busFd_ < 0 || wakeFd_ < 0 || epoll_ < 0) return failed("cannot wait for the bus", errno);
    epoll_event wakeEvent{};
    wakeEvent.events = EPOLLIN;
    wakeEvent.data.fd = wakeFd_;
    epoll_event busEvent{};
    busEvent.events = EPOLLIN;
    busEvent.data.fd = busFd_;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &wakeEvent) < 0 ||
        epoll_ctl(epoll_, EPOLL_CTL_ADD, busFd_, &busEvent) < 0)
        return failed("cannot wait for the bus", errno);
    connected_ = true;
    return true;
}

MprisBus::~MprisBus() {
    if (listening_) model_.setChangeListener({});
    sd_bus_slot_unref(playerSlot_);
    sd_bus_slot_unref(rootSlot_);
    if (bus_) sd_bus_flush_close_unref(bus_);
    if (epoll_ >= 0) close(epoll_);
    if (wakeFd_ >= 0) close(wakeFd_);
}

void MprisBus::wake() {
    const uint64_t one = 1;
    // A full counter already wakes the reader; nothing to do when the write cannot be made.
    [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

int MprisBus::timeoutMs() const {
    if (!connected_) return -1;
    uint64_t due = 0;
    if (sd_bus_get_timeout(bus_, &due) < 0 || due == UINT64_MAX) return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUs = static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
    if (due <= nowUs) return 0;
    const uint64_t ms = (due - nowUs + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

void MprisBus::announceChanges() {
    const MprisChanges changes = model_.takeChanges();
    if (!connected_) return;
    if (!changes.properties.empty()) {
        std::vector<char*> names;
        for (const char* name : changes.properties) names.push_back(const_cast<char*>(name));
        names.push_back(nullptr);
        sd_bus_emit_properties_changed_strv(bus_, kMprisObjectPath, kPlayerInterface, names.data());
    }
    if (changes.seekedUs)
        sd_bus_emit_signal(bus_, kMprisObjectPath, kPlayerInterface, "Seeked", "x", static_cast<int64_t>(*changes.seekedUs));
}

void MprisBus::process() {
    uint64_t count = 0;
    while (read(wakeFd_, &count, sizeof count) > 0) {
    }
    announceChanges();
    if (connected_) {
        int r = 0;
        do {
            r = sd_bus_process(bus_, nullptr);
        } while (r > 0);
        if (r < 0) {
            // The bus went away (it ended, or dropped us): the player plays on without it.
            connected_ = false;
            epoll_ctl(epoll_, EPOLL_CTL_DEL, busFd_, nullptr);
        }
    }
    rearm();
}

void MprisBus::rearm() {
    if (!connected_) return;
    const int events = sd_bus_get_events(bus_);
    epoll_event busEvent{};
    busEvent.events = events > 0 ? static_cast<uint32_t>(events) : EPOLLIN;
    busEvent.data.fd = busFd_;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, busFd_, &busEvent);
}

}  // namespace tessura::remote
