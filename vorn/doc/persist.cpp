#include "vorn/doc/persist.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <system_error>
#include <utility>

namespace vorn_ui::persist {

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'V', 'D', 'O', 'C', 'L', 'O', 'G', '1'};
constexpr std::size_t kRecordHeader = 8;  // u32 length, u32 CRC-32 of the payload
// A record longer than this is corruption, not a change anyone made; refusing it keeps a
// damaged length field from asking for gigabytes.
constexpr std::size_t kMaxRecord = 64u << 20;
constexpr int kActorSlots = 64;

std::uint32_t crc32(std::span<const std::uint8_t> data) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint8_t b : data) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::uint32_t read_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::string os_error(int err) {
    return std::system_category().message(err);
}

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Creates every missing component of `dir` with mode 0700.
std::expected<void, std::string> make_private_dirs(const std::filesystem::path& dir) {
    std::filesystem::path partial;
    for (const auto& part : dir) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return std::unexpected("cannot create the directory " + partial.string() + ": " +
                                   os_error(errno));
        }
    }
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return std::unexpected(dir.string() + " is not a directory");
    }
    return {};
}

std::expected<std::vector<std::uint8_t>, std::string> read_from(int fd, std::size_t offset,
                                                                const std::filesystem::path& p) {
    std::vector<std::uint8_t> out;
    std::array<std::uint8_t, 1 << 16> buf;
    for (;;) {
        ssize_t n = ::pread(fd, buf.data(), buf.size(), static_cast<off_t>(offset + out.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected("cannot read " + p.string() + ": " + os_error(errno));
        }
        if (n == 0) return out;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
}

std::expected<void, std::string> write_all(int fd, std::span<const std::uint8_t> data,
                                           std::size_t offset) {
    while (!data.empty()) {
        ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(os_error(errno));
        }
        data = data.subspan(static_cast<std::size_t>(n));
        offset += static_cast<std::size_t>(n);
    }
    return {};
}

void sync_dir(const std::filesystem::path& dir) {
    Fd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.valid()) ::fsync(d.get());
}

bool is_log_name(std::string_view name) {
    if (name.size() != 36 || !name.ends_with(".log")) return false;
    return std::all_of(name.begin(), name.begin() + 32,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// This machine's systemd/D-Bus machine id, or empty when it has none.
std::string machine_id() {
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        Fd f(::open(path, O_RDONLY | O_CLOEXEC));
        if (!f.valid()) continue;
        std::array<char, 64> buf{};
        ssize_t n = ::read(f.get(), buf.data(), buf.size());
        std::string id;
        for (ssize_t i = 0; i < n; ++i) {
            char c = buf[static_cast<std::size_t>(i)];
            if (std::isxdigit(static_cast<unsigned char>(c))) id.push_back(c);
        }
        if (!id.empty()) return id;
    }
    return {};
}

std::optional<doc::ActorId> parse_actor_hex(std::string_view text) {
    if (text.size() != 32) return std::nullopt;
    doc::ActorId a{};
    for (std::size_t i = 0; i < 16; ++i) {
        unsigned v = 0;
        for (char c : text.substr(2 * i, 2)) {
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<unsigned>(c - 'a' + 10);
            else
                return std::nullopt;
        }
        a[i] = static_cast<std::uint8_t>(v);
    }
    return a;
}

std::string env_path(const char* name) {
    const char* v = std::getenv(name);
    if (!v || !*v || v[0] != '/') return {};  // relative XDG paths are to be ignored
    return v;
}

struct ActorSlot {
    Fd lock;
    doc::ActorId actor{};
    std::filesystem::path file;  // where the slot's actor id is kept
};

std::expected<void, std::string> store_actor(const std::filesystem::path& file,
                                             const doc::ActorId& actor) {
    const std::string machine = machine_id();
    auto tmp = file;
    tmp += ".tmp";
    Fd out(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    std::string text = doc::to_hex(actor) + (machine.empty() ? "" : " " + machine) + "\n";
    if (!out.valid() ||
        !write_all(out.get(),
                   std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0) ||
        ::fsync(out.get()) != 0 || ::rename(tmp.c_str(), file.c_str()) != 0) {
        return std::unexpected("cannot store this device's actor id in " + file.string() + ": " +
                               os_error(errno));
    }
    sync_dir(file.parent_path());
    return {};
}

// Each running instance on a device holds one slot's lock for its lifetime, so two instances
// never append to the same log; a slot's actor id is kept so a restart continues its own log.
std::expected<ActorSlot, std::string> take_actor_slot(const std::filesystem::path& state_dir) {
    for (int n = 0; n < kActorSlots; ++n) {
        auto base = state_dir / ("actor-" + std::to_string(n));
        auto lock_path = base;
        lock_path += ".lock";
        Fd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!lock.valid()) {
            return std::unexpected("cannot open " + lock_path.string() + ": " + os_error(errno));
        }
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) continue;
            return std::unexpected("cannot lock " + lock_path.string() + ": " + os_error(errno));
        }
        ActorSlot slot{std::move(lock), {}, base};
        // The file names the machine it was made on: a state directory restored or copied onto
        // another machine must not make two devices write one log as one actor.
        const std::string machine = machine_id();
        Fd f(::open(base.c_str(), O_RDONLY | O_CLOEXEC));
        if (f.valid()) {
            auto bytes = read_from(f.get(), 0, base);
            if (bytes) {
                std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
                while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
                    text.remove_suffix(1);
                }
                auto space = text.find(' ');
                std::string_view made_on =
                    space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
                auto a = parse_actor_hex(text.substr(0, space));
                if (a && made_on == machine) {
                    slot.actor = *a;
                    return slot;
                }
            }
        }
        slot.actor = doc::random_actor();
        if (auto r = store_actor(base, slot.actor); !r) return std::unexpected(r.error());
        return slot;
    }
    return std::unexpected("every document actor slot in " + state_dir.string() +
                           " is held by a running instance");
}

void default_sink(std::string_view message) {
    std::fprintf(stderr, "vorn: warning: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace

std::vector<std::uint8_t> log_header() {
    return {kMagic.begin(), kMagic.end()};
}

std::vector<std::uint8_t> log_record(std::span<const std::uint8_t> encoded_change) {
    std::vector<std::uint8_t> out;
    out.reserve(kRecordHeader + encoded_change.size());
    put_u32(out, static_cast<std::uint32_t>(encoded_change.size()));
    put_u32(out, crc32(encoded_change));
    out.insert(out.end(), encoded_change.begin(), encoded_change.end());
    return out;
}

LogScan scan_log(std::span<const std::uint8_t> bytes, std::size_t offset) {
    LogScan scan;
    scan.good_end = offset;
    std::size_t pos = 0;
    if (offset == 0) {
        std::size_t n = std::min(bytes.size(), kMagic.size());
        if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n),
                        kMagic.begin())) {
            scan.corrupt = "it is not a document log";
            return scan;
        }
        if (n < kMagic.size()) {
            scan.torn = n > 0;
            return scan;
        }
        pos = kMagic.size();
        scan.good_end = pos;
    }
    while (pos < bytes.size()) {
        std::size_t left = bytes.size() - pos;
        if (left < kRecordHeader) {
            scan.torn = true;
            break;
        }
        std::size_t len = read_u32(bytes.data() + pos);
        std::uint32_t crc = read_u32(bytes.data() + pos + 4);
        if (len > kMaxRecord) {
            scan.corrupt =
                "a record at byte " + std::to_string(offset + pos) + " claims an impossible length";
            break;
        }
        if (left - kRecordHeader < len) {
            scan.torn = true;
            break;
        }
        auto payload = bytes.subspan(pos + kRecordHeader, len);
        if (crc32(payload) != crc) {
            scan.corrupt =
                "the record at byte " + std::to_string(offset + pos) + " fails its checksum";
            break;
        }
        auto change = doc::decode_change(payload);
        if (!change) {
            scan.corrupt =
                "the record at byte " + std::to_string(offset + pos) + ": " + change.error();
            break;
        }
        scan.changes.push_back(std::move(*change));
        pos += kRecordHeader + len;
        scan.good_end = offset + pos;
    }
    return scan;
}

std::expected<Location, std::string> default_location() {
    std::string home = env_path("HOME");
    std::string data = env_path("XDG_DATA_HOME");
    std::string state = env_path("XDG_STATE_HOME");
    if ((data.empty() || state.empty()) && home.empty()) {
        return std::unexpected(
            "cannot place the connections document: HOME is not set to an absolute path");
    }
    std::filesystem::path data_root = data.empty()
                                          ? std::filesystem::path(home) / ".local" / "share"
                                          : std::filesystem::path(data);
    std::filesystem::path state_root = state.empty()
                                           ? std::filesystem::path(home) / ".local" / "state"
                                           : std::filesystem::path(state);
    return Location{data_root / "vorn" / "remote" / "connections", state_root / "vorn" / "remote"};
}

struct Store::Impl {
    Impl(Location loc, WarningSink warnings, ActorSlot slot)
        : location(std::move(loc)),
          sink(std::move(warnings)),
          document(slot.actor),
          lock(std::move(slot.lock)),
          actor_file(std::move(slot.file)),
          own_name(doc::to_hex(slot.actor) + ".log") {}

    Location location;
    WarningSink sink;
    doc::Document document;
    Fd lock;
    std::filesystem::path actor_file;
    Fd log;
    std::size_t log_size = 0;
    std::string own_name;
    Fd watch;
    std::vector<std::vector<std::uint8_t>> unwritten;
    std::optional<std::string> write_error;

    struct FileState {
        std::size_t offset = 0;
        dev_t dev = 0;
        ino_t ino = 0;
        std::string reported;  // the corruption already warned about
    };
    std::map<std::string, FileState> files;

    void warn(const std::string& message) {
        if (sink) {
            sink(message);
        } else {
            default_sink(message);
        }
    }

    std::filesystem::path own_path() const { return location.data_dir / own_name; }

    // Appends the records not yet in the log, each followed by a sync. A failed write is cut
    // back off the file so the log never holds a half record before a later whole one.
    // True when the log we hold open is no longer the file at our path: someone (a sync tool, a
    // user tidying up) deleted or replaced it, and appending to the old file would lose changes.
    bool own_log_detached() const {
        struct stat held {
        }, named{};
        if (::fstat(log.get(), &held) != 0) return true;
        if (::stat(own_path().c_str(), &named) != 0) return true;
        return held.st_dev != named.st_dev || held.st_ino != named.st_ino;
    }

    // Writes this actor's whole history to a fresh log and puts it in place atomically.
    std::expected<void, std::string> rewrite_own_log() {
        auto path = own_path();
        auto tmp = path;
        tmp += ".tmp";
        std::vector<std::uint8_t> bytes = log_header();
        for (const doc::Change& c : document.get_changes()) {
            if (c.actor != document.actor_id()) continue;
            auto rec = log_record(doc::encode_change(c));
            bytes.insert(bytes.end(), rec.begin(), rec.end());
        }
        Fd out(::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!out.valid()) return std::unexpected(os_error(errno));
        if (auto w = write_all(out.get(), bytes, 0); !w) return w;
        if (::fsync(out.get()) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
            return std::unexpected(os_error(errno));
        }
        sync_dir(location.data_dir);
        log = std::move(out);
        log_size = bytes.size();
        unwritten.clear();  // every committed change is in the new file
        return {};
    }

    std::expected<void, std::string> flush() {
        if (own_log_detached()) {
            if (auto r = rewrite_own_log(); !r) {
                return std::unexpected("could not save a change to " + own_path().string() + ": " +
                                       r.error());
            }
            warn("document log " + own_path().string() + " was removed or replaced; rewrote it");
            return {};
        }
        while (!unwritten.empty()) {
            const auto& rec = unwritten.front();
            auto w = write_all(log.get(), rec, log_size);
            if (w && ::fdatasync(log.get()) != 0) w = std::unexpected(os_error(errno));
            if (!w) {
                if (::ftruncate(log.get(), static_cast<off_t>(log_size)) != 0) {
                    // Nothing more to do: the next open skips the torn tail.
                }
                return std::unexpected("could not save a change to " + own_path().string() + ": " +
                                       w.error());
            }
            log_size += rec.size();
            unwritten.erase(unwritten.begin());
        }
        return {};
    }

    void on_commit(std::span<const std::uint8_t> encoded) {
        unwritten.push_back(log_record(encoded));
        auto r = flush();
        if (r) {
            write_error.reset();
        } else {
            write_error = r.error();
            warn(r.error());
        }
    }

    std::expected<std::vector<std::string>, std::string> list_logs() const {
        std::error_code ec;
        std::vector<std::string> names;
        for (std::filesystem::directory_iterator it(location.data_dir, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (is_log_name(name)) names.push_back(std::move(name));
        }
        if (ec) {
            return std::unexpected("cannot read the document directory " +
                                   location.data_dir.string() + ": " + ec.message());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Reads what another actor's log gained since the last look. `opening` also reports a torn
    // tail, which later is usually a record still being written or synced.
    void read_other(const std::string& name, bool opening, std::vector<doc::Change>& out) {
        auto path = location.data_dir / name;
        Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!f.valid()) return;  // vanished since the listing
        struct stat st {};
        if (::fstat(f.get(), &st) != 0) return;
        FileState& fs = files[name];
        auto size = static_cast<std::size_t>(st.st_size);
        if (st.st_dev != fs.dev || st.st_ino != fs.ino || size < fs.offset) {
            // Replaced (sync tools often write a new file and rename it): read it again; the
            // changes already applied are recognised and skipped.
            fs = FileState{0, st.st_dev, st.st_ino, {}};
        }
        if (size == fs.offset) return;
        auto bytes = read_from(f.get(), fs.offset, path);
        if (!bytes) {
            warn(bytes.error());
            return;
        }
        LogScan scan = scan_log(*bytes, fs.offset);
        fs.offset = scan.good_end;
        for (auto& c : scan.changes) out.push_back(std::move(c));
        if (scan.corrupt) {
            std::string key = std::to_string(scan.good_end) + *scan.corrupt;
            if (fs.reported != key) {
                fs.reported = key;
                warn("skipped the rest of document log " + path.string() + ": " + *scan.corrupt);
            }
        } else if (scan.torn && opening) {
            warn("skipped an incomplete record at the end of document log " + path.string());
        }
    }

    // Opens this actor's log, reading what it holds. A torn last record was never completely
    // written, so nobody can have it and it is cut off. A damaged record that was once whole may
    // already be on other devices: reusing its sequence number would make them refuse every later
    // change, so then the log is left as it is and this instance moves to a new actor.
    std::expected<void, std::string> open_own_log(std::vector<doc::Change>& out) {
        auto path = own_path();
        log = Fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!log.valid()) {
            return std::unexpected("cannot open the document log " + path.string() + ": " +
                                   os_error(errno));
        }
        auto bytes = read_from(log.get(), 0, path);
        if (!bytes) return std::unexpected(bytes.error());
        LogScan scan = scan_log(*bytes, 0);
        if (scan.corrupt && scan.good_end > 0) {
            warn("document log " + path.string() + " is damaged (" + *scan.corrupt +
                 "); this device continues under a new actor id");
            doc::ActorId fresh = doc::random_actor();
            if (auto r = store_actor(actor_file, fresh); !r) return r;
            if (auto r = document.set_actor(fresh); !r) return r;
            own_name = doc::to_hex(fresh) + ".log";
            return open_own_log(out);  // a new, empty log; the old one is read as another's
        }
        for (auto& c : scan.changes) out.push_back(std::move(c));
        std::size_t keep = scan.good_end;
        if (scan.corrupt || scan.torn) {
            warn("dropped " + std::to_string(bytes->size() - keep) +
                 " damaged bytes at the end of document log " + path.string() + " (" +
                 scan.corrupt.value_or("an incomplete record") + ")");
        }
        if (keep < kMagic.size()) {
            auto header = log_header();
            if (::ftruncate(log.get(), 0) != 0 || !write_all(log.get(), header, 0) ||
                ::fsync(log.get()) != 0) {
                return std::unexpected("cannot write the document log " + path.string() + ": " +
                                       os_error(errno));
            }
            sync_dir(location.data_dir);
            keep = header.size();
        } else if (keep < bytes->size() && ::ftruncate(log.get(), static_cast<off_t>(keep)) != 0) {
            return std::unexpected("cannot repair the document log " + path.string() + ": " +
                                   os_error(errno));
        }
        log_size = keep;
        return {};
    }
};

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Store::~Store() = default;

std::expected<std::unique_ptr<Store>, std::string> Store::open_at(const Location& location,
                                                                  WarningSink sink) {
    if (auto r = make_private_dirs(location.data_dir); !r) return std::unexpected(r.error());
    if (auto r = make_private_dirs(location.state_dir); !r) return std::unexpected(r.error());
    auto slot = take_actor_slot(location.state_dir);
    if (!slot) return std::unexpected(slot.error());

    auto impl = std::make_unique<Impl>(location, std::move(sink), std::move(*slot));
    // Watch before reading, so a write that lands while we read still wakes the event loop.
    impl->watch = Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!impl->watch.valid() ||
        ::inotify_add_watch(impl->watch.get(), location.data_dir.c_str(),
                            IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO) < 0) {
        impl->warn("cannot watch " + location.data_dir.string() +
                   " for changes from other devices: " + os_error(errno));
        impl->watch.reset();
    }

    std::vector<doc::Change> changes;
    if (auto r = impl->open_own_log(changes); !r) return std::unexpected(r.error());
    auto names = impl->list_logs();
    if (!names) return std::unexpected(names.error());
    for (const auto& name : *names) {
        if (name != impl->own_name) impl->read_other(name, true, changes);
    }
    if (auto r = impl->document.apply_changes(std::move(changes)); !r) {
        impl->warn("some saved document changes could not be applied: " + r.error());
    }
    Impl* raw = impl.get();
    impl->document.set_commit_observer([raw](const doc::Change&,
                                             std::span<const std::uint8_t> encoded,
                                             const doc::ChangeHash&) { raw->on_commit(encoded); });
    return std::unique_ptr<Store>(new Store(std::move(impl)));
}

doc::Document& Store::document() {
    return impl_->document;
}

std::expected<void, std::string> Store::save() {
    impl_->document.commit();
    if (impl_->unwritten.empty()) return {};
    auto r = impl_->flush();
    if (r) impl_->write_error.reset();
    return r;
}

int Store::watch_fd() const {
    return impl_->watch.valid() ? impl_->watch.get() : -1;
}

std::expected<bool, std::string> Store::refresh() {
    if (impl_->watch.valid()) {
        std::array<char, 4096> buf;
        while (::read(impl_->watch.get(), buf.data(), buf.size()) > 0) {
        }
    }
    auto before = impl_->document.get_heads();
    auto names = impl_->list_logs();
    if (!names) return std::unexpected(names.error());
    std::vector<doc::Change> changes;
    for (const auto& name : *names) {
        if (name != impl_->own_name) impl_->read_other(name, false, changes);
    }
    if (changes.empty()) return false;
    if (auto r = impl_->document.apply_changes(std::move(changes)); !r) {
        impl_->warn("some document changes from other devices could not be applied: " + r.error());
    }
    return impl_->document.get_heads() != before;
}

const std::filesystem::path& Store::directory() const {
    return impl_->location.data_dir;
}
std::filesystem::path Store::log_path() const {
    return impl_->own_path();
}

std::expected<std::unique_ptr<DocumentStore>, std::string> open() {
    auto location = default_location();
    if (!location) return std::unexpected(location.error());
    auto store = Store::open_at(*location);
    if (!store) return std::unexpected(store.error());
    return std::unique_ptr<DocumentStore>(std::move(*store));
}

}  // namespace vorn_ui::persist
