#include "ssh/known_hosts.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

namespace remote {
namespace {

namespace fs = std::filesystem;

// Sets environment variables for one test and puts the old values back afterwards.
class EnvGuard {
  public:
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }
    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_all(const fs::path& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary) << text;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

// The failure text, or a marker that cannot equal one when the call succeeded.
template <class Expected>
std::string error_of(const Expected& result) {
    return result.has_value() ? std::string("<succeeded>") : result.error();
}

mode_t mode_of(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class KnownHostsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "known-hosts-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        root_ = templ;
        store_dir_ = root_ / "private";
        fs::create_directory(store_dir_);
        ASSERT_EQ(::chmod(store_dir_.c_str(), 0700), 0);
        file_ = store_dir_ / "known-hosts.json";
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
    fs::path store_dir_;
    fs::path file_;
};

const HostKeyIdentity kEd{"ssh-ed25519", "SHA256:SyYw2s+i7TeuVlFs/D04ahX2HpbSqMtK64WYh7RawEg"};
const HostKeyIdentity kEcdsa{"ecdsa-sha2-nistp256",
                             "SHA256:mJXeEfqGaRZ2iG/e7VqxiB0ALU8nFlOWfl7YTzKyqXQ"};

TEST(HostKeyIdentityTest, MatchesOpenSshFingerprintOfFixtureKeys) {
    const fs::path fixtures =
        fs::path(std::getenv("REMOTE_SOURCE_DIR")) / "apps/remote/tests/ssh/fixtures";
    for (const char* name : {"host_ed25519", "host_ecdsa"}) {
        SCOPED_TRACE(name);
        std::istringstream line(read_all(fixtures / (std::string(name) + ".pub")));
        std::string algorithm, base64;
        line >> algorithm >> base64;
        std::vector<unsigned char> blob(base64.size());
        int n = EVP_DecodeBlock(blob.data(), reinterpret_cast<const unsigned char*>(base64.data()),
                                static_cast<int>(base64.size()));
        ASSERT_GT(n, 0);
        // EVP_DecodeBlock counts the padding as zero bytes; drop them.
        n -= static_cast<int>(std::count(base64.end() - 2, base64.end(), '='));
        blob.resize(static_cast<std::size_t>(n));

        std::string expected = read_all(fixtures / (std::string(name) + ".fingerprint"));
        while (!expected.empty() && expected.back() == '\n') expected.pop_back();
        HostKeyIdentity identity = host_key_identity(algorithm, blob);
        EXPECT_EQ(identity.algorithm, algorithm);
        EXPECT_EQ(identity.fingerprint, expected);
    }
}

TEST(HostKeyIdentityTest, EmptyBlobHasUnpaddedDigest) {
    // SHA-256 of nothing, base64 without the trailing '='.
    EXPECT_EQ(host_key_identity("x", {}).fingerprint,
              "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU");
}

TEST(CheckHostKeyTest, ClassifiesByFirstExactHostAndPort) {
    KnownHosts hosts{{{"server", 22, kEd}, {"server", 22, kEcdsa}, {"server", 2222, kEcdsa}}};
    EXPECT_EQ(check_host_key(hosts, "server", 22, kEd), (HostKeyCheck{HostKeyCheck::Trusted{}}));
    EXPECT_EQ(check_host_key(hosts, "server", 22, kEcdsa),
              (HostKeyCheck{HostKeyCheck::Changed{kEd, kEcdsa}}));
    EXPECT_EQ(check_host_key(hosts, "Server", 22, kEd),
              (HostKeyCheck{HostKeyCheck::Unpinned{kEd}}));
    EXPECT_EQ(check_host_key(hosts, "server", 2222, kEcdsa),
              (HostKeyCheck{HostKeyCheck::Trusted{}}));
    EXPECT_EQ(check_host_key(hosts, "server", 23, kEd),
              (HostKeyCheck{HostKeyCheck::Unpinned{kEd}}));
    // Same fingerprint under another algorithm name is a different identity.
    HostKeyIdentity renamed{"ssh-rsa", kEd.fingerprint};
    EXPECT_EQ(check_host_key(hosts, "server", 22, renamed),
              (HostKeyCheck{HostKeyCheck::Changed{kEd, renamed}}));
}

TEST(ParseKnownHostsTest, RefusesMalformedFilesWhole) {
    const std::string identity = R"({"algorithm":"a","fingerprint":"f"})";
    struct Case {
        std::string text;
        std::string error;  // empty: the parser's own wording, only checked to be present
    };
    const std::vector<Case> cases = {
        {R"({"entries":[{"host":"h","port":70000,"identity":)" + identity + "}]}",
         "invalid value: integer `70000`, expected u16"},
        {R"({"entries":[{"host":"h","port":-1,"identity":)" + identity + "}]}",
         "invalid value: integer `-1`, expected u16"},
        {R"({"entries":[{"host":"h","port":22.0,"identity":)" + identity + "}]}",
         "invalid type: floating point `22.0`, expected u16"},
        {R"({"entries":[{"host":"h","port":22,"identity":)" + identity +
             R"(},{"host":"h","port":22}]})",
         "missing field `identity`"},
        {R"({"entries":[{"host":"h","port":22,"host":"g","identity":)" + identity + "}]}",
         "duplicate field `host`"},
        {R"({"entries":[],"entries":[]})", "duplicate field `entries`"},
        {R"({"entries":[{"host":"h","port":22,"identity":{"algorithm":"a"}}]})",
         "missing field `fingerprint`"},
        {R"({"entries":[{"host":7,"port":22,"identity":)" + identity + "}]}",
         "invalid type: integer `7`, expected a string"},
        {R"({"entries":{}})", "invalid type: map, expected a sequence"},
        {R"({})", "missing field `entries`"},
        {R"([])", "invalid type: sequence, expected struct KnownHosts"},
        {R"({"entries":[]} x)", ""},
        {R"({"entries":[)", ""},
        {"", ""},
        {std::string(200, '[') + std::string(200, ']'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto result = parse_known_hosts(c.text);
        ASSERT_FALSE(result.has_value());
        if (c.error.empty()) {
            EXPECT_FALSE(result.error().empty());
        } else {
            EXPECT_EQ(result.error(), c.error);
        }
    }
}

TEST(ParseKnownHostsTest, SkipsUnknownMembersAndKeepsOrder) {
    auto result = parse_known_hosts(R"( {"version":[1,{"x":null}],"entries":[
        {"note":"a","note":"b","port":0,"host":"b","identity":{"fingerprint":"f1","algorithm":"a1","k":1}},
        {"host":"a","port":65535,"identity":{"algorithm":"a2","fingerprint":"f2"}}]} )");
    ASSERT_TRUE(result.has_value()) << result.error();
    KnownHosts expected{{{"b", 0, {"a1", "f1"}}, {"a", 65535, {"a2", "f2"}}}};
    EXPECT_EQ(*result, expected);
}

TEST_F(KnownHostsTest, MissingFileIsEmptyAndFirstPinCreatesPrivateFile) {
    auto empty = load_known_hosts(file_);
    ASSERT_TRUE(empty.has_value()) << empty.error();
    EXPECT_TRUE(empty->entries.empty());

    ASSERT_TRUE(pin_host_key(file_, "nas.local", 22, kEd).has_value());
    ASSERT_TRUE(pin_host_key(file_, "10.0.0.20", 2222, kEcdsa).has_value());
    EXPECT_EQ(mode_of(file_), 0600u);
    EXPECT_EQ(mode_of(store_dir_), 0700u);
    EXPECT_EQ(read_all(file_),
              "{\n"
              "  \"entries\": [\n"
              "    {\n"
              "      \"host\": \"nas.local\",\n"
              "      \"port\": 22,\n"
              "      \"identity\": {\n"
              "        \"algorithm\": \"ssh-ed25519\",\n"
              "        \"fingerprint\": \"SHA256:SyYw2s+i7TeuVlFs/D04ahX2HpbSqMtK64WYh7RawEg\"\n"
              "      }\n"
              "    },\n"
              "    {\n"
              "      \"host\": \"10.0.0.20\",\n"
              "      \"port\": 2222,\n"
              "      \"identity\": {\n"
              "        \"algorithm\": \"ecdsa-sha2-nistp256\",\n"
              "        \"fingerprint\": \"SHA256:mJXeEfqGaRZ2iG/e7VqxiB0ALU8nFlOWfl7YTzKyqXQ\"\n"
              "      }\n"
              "    }\n"
              "  ]\n"
              "}");
    auto loaded = load_known_hosts(file_);
    ASSERT_TRUE(loaded.has_value()) << loaded.error();
    EXPECT_EQ(*loaded, (KnownHosts{{{"nas.local", 22, kEd}, {"10.0.0.20", 2222, kEcdsa}}}));
    // Only the store file is left behind: the temporary file was renamed over it.
    EXPECT_EQ(std::distance(fs::directory_iterator(store_dir_), fs::directory_iterator()), 1);
}

TEST_F(KnownHostsTest, EmptyStoreSavesAsEmptyArray) {
    ASSERT_TRUE(save_known_hosts(file_, KnownHosts{}).has_value());
    EXPECT_EQ(read_all(file_), "{\n  \"entries\": []\n}");
}

TEST_F(KnownHostsTest, RepeatedPinWritesNothingAndConflictingPinIsRefused) {
    ASSERT_TRUE(pin_host_key(file_, "server", 22, kEd).has_value());
    // Back-date the file so an unwanted rewrite would show in its modification time.
    const timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file_.c_str(), old_times, 0), 0);
    const std::string before = read_all(file_);

    EXPECT_TRUE(pin_host_key(file_, "server", 22, kEd).has_value());
    auto conflict = pin_host_key(file_, "server", 22, kEcdsa);
    ASSERT_FALSE(conflict.has_value());
    EXPECT_EQ(conflict.error(),
              "a different trusted host key already exists; forget it before retrusting");

    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(read_all(file_), before);
}

TEST_F(KnownHostsTest, ForgetRemovesEveryMatchingPinAndWritesNothingOtherwise) {
    write_all(file_, R"({"entries":[
        {"host":"h","port":22,"identity":{"algorithm":"a","fingerprint":"1"}},
        {"host":"other","port":22,"identity":{"algorithm":"a","fingerprint":"2"}},
        {"host":"h","port":22,"identity":{"algorithm":"b","fingerprint":"3"}},
        {"host":"h","port":23,"identity":{"algorithm":"a","fingerprint":"4"}}]})",
              0600);
    const std::string before = read_all(file_);
    auto nothing = forget_host_key(file_, "H", 22);
    ASSERT_TRUE(nothing.has_value()) << nothing.error();
    EXPECT_FALSE(*nothing);
    EXPECT_EQ(read_all(file_), before);

    auto removed = forget_host_key(file_, "h", 22);
    ASSERT_TRUE(removed.has_value()) << removed.error();
    EXPECT_TRUE(*removed);
    auto left = load_known_hosts(file_);
    ASSERT_TRUE(left.has_value()) << left.error();
    EXPECT_EQ(*left, (KnownHosts{{{"other", 22, {"a", "2"}}, {"h", 23, {"a", "4"}}}}));
    EXPECT_EQ(mode_of(file_), 0600u);
}

TEST_F(KnownHostsTest, OpenFileOrDirectoryIsRefusedByEveryOperation) {
    ASSERT_TRUE(pin_host_key(file_, "server", 22, kEd).has_value());
    ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
    const std::string open_file =
        "SSH host-key store must not be accessible to group or other users";
    EXPECT_EQ(error_of(load_known_hosts(file_)), open_file);
    EXPECT_EQ(error_of(pin_host_key(file_, "other", 22, kEd)), open_file);
    EXPECT_EQ(error_of(forget_host_key(file_, "server", 22)), open_file);
    EXPECT_EQ(mode_of(file_), 0644u);

    ASSERT_EQ(::chmod(file_.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(store_dir_.c_str(), 0750), 0);
    const std::string open_dir =
        "SSH host-key store parent must not be accessible to group or other users";
    EXPECT_EQ(error_of(load_known_hosts(file_)), open_dir);
    EXPECT_EQ(error_of(pin_host_key(file_, "other", 22, kEd)), open_dir);
    EXPECT_EQ(error_of(forget_host_key(file_, "server", 22)), open_dir);
}

TEST_F(KnownHostsTest, LinksAndOtherFileTypesAreRefused) {
    // The store file as a symbolic link to a private regular file.
    write_all(store_dir_ / "real.json", R"({"entries":[]})", 0600);
    fs::create_symlink(store_dir_ / "real.json", file_);
    EXPECT_EQ(error_of(load_known_hosts(file_)), "SSH host-key store must be a regular file");
    EXPECT_EQ(error_of(pin_host_key(file_, "h", 22, kEd)),
              "SSH host-key store must be a regular file");
    fs::remove(file_);
    fs::create_directory(file_);
    EXPECT_EQ(error_of(load_known_hosts(file_)), "SSH host-key store must be a regular file");
    fs::remove(file_);
    ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
    EXPECT_EQ(error_of(load_known_hosts(file_)), "SSH host-key store must be a regular file");
    fs::remove(file_);

    // The parent as a symbolic link to a private directory.
    fs::create_directory_symlink(store_dir_, root_ / "linked");
    EXPECT_EQ(error_of(load_known_hosts(root_ / "linked" / "known-hosts.json")),
              "SSH host-key store parent must be a real directory");
}

TEST_F(KnownHostsTest, MalformedFileStaysUntouchedByPinAndForget) {
    const std::string bad = R"({"entries":[{"host":"h","port":22}]})";
    write_all(file_, bad, 0600);
    EXPECT_EQ(error_of(load_known_hosts(file_)), "missing field `identity`");
    EXPECT_EQ(error_of(pin_host_key(file_, "h", 22, kEd)), "missing field `identity`");
    EXPECT_EQ(error_of(forget_host_key(file_, "h", 22)), "missing field `identity`");
    EXPECT_EQ(read_all(file_), bad);
}

TEST_F(KnownHostsTest, ResolveStorePathFollowsEnvironment) {
    EnvGuard env;
    const fs::path home = root_ / "home";
    fs::create_directory(home);
    env.set("REMOTE_SSH_KNOWN_HOSTS", std::nullopt);
    env.set("HOME", home.string());

    // XDG_STATE_HOME empty or unset: the home directory's .local/state.
    for (const std::optional<std::string>& xdg :
         {std::optional<std::string>(""), std::optional<std::string>()}) {
        env.set("XDG_STATE_HOME", xdg);
        auto path = resolve_store_path();
        ASSERT_TRUE(path.has_value()) << path.error();
        EXPECT_EQ(*path, home / ".local/state/vorn/remote/known-hosts.json");
        EXPECT_EQ(mode_of(home / ".local/state/vorn/remote"), 0700u);
        EXPECT_FALSE(fs::exists(*path));
    }

    env.set("XDG_STATE_HOME", (root_ / "state").string());
    auto xdg_path = resolve_store_path();
    ASSERT_TRUE(xdg_path.has_value()) << xdg_path.error();
    EXPECT_EQ(*xdg_path, root_ / "state/vorn/remote/known-hosts.json");
    EXPECT_EQ(mode_of(root_ / "state/vorn/remote"), 0700u);

    // An existing store directory that is too open is refused, never repaired.
    ASSERT_EQ(::chmod((root_ / "state/vorn/remote").c_str(), 0755), 0);
    EXPECT_EQ(error_of(resolve_store_path()),
              "SSH host-key store parent must not be accessible to group or other users");

    // A store directory that is a link to a private directory.
    fs::create_directories(root_ / "linked/vorn");
    fs::create_directory_symlink(store_dir_, root_ / "linked/vorn/remote");
    env.set("XDG_STATE_HOME", (root_ / "linked").string());
    EXPECT_EQ(error_of(resolve_store_path()), "SSH host-key store parent must be a real directory");

    env.set("XDG_STATE_HOME", std::nullopt);
    env.set("HOME", std::nullopt);
    EXPECT_EQ(error_of(resolve_store_path()),
              "no private state directory is available for SSH host trust");

    // An explicit file is used as given, and only checked.
    env.set("REMOTE_SSH_KNOWN_HOSTS", file_.string());
    auto explicit_path = resolve_store_path();
    ASSERT_TRUE(explicit_path.has_value()) << explicit_path.error();
    EXPECT_EQ(*explicit_path, file_);
    env.set("REMOTE_SSH_KNOWN_HOSTS", (root_ / "absent/known-hosts.json").string());
    EXPECT_FALSE(resolve_store_path().has_value());
    EXPECT_FALSE(fs::exists(root_ / "absent"));
    env.set("REMOTE_SSH_KNOWN_HOSTS", "known-hosts.json");
    EXPECT_EQ(error_of(resolve_store_path()), "SSH host-key store has no private parent directory");
}

}  // namespace
}  // namespace remote
