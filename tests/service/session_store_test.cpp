#include "service/session_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>

#include "fakes/expect_failure.h"
#include "fakes/fake_http_engine.h"
#include "fakes/faulty_session_platform.h"
#include "fakes/temp_dir.h"
#include "service/api_bridge.h"
#include "service/service_address.h"
#include "service/session_platform_posix.h"

namespace vardeko::testing {
namespace {

class SessionStoreTest : public ::testing::Test {
 protected:
  std::string FileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  TempDir home;
  TempDir data;
  SodiumSessionPlatform real{home.path() / "key"};
  FaultySessionPlatform platform{real};
  const std::string url = ParseServiceAddress("https://api.example.com/api").baseUrl;
};

TEST_F(SessionStoreTest, FileNameComesFromTheDigestOfTheNormalisedUrl) {
  SessionStore a(platform, ParseServiceAddress("https://API.example.com/api/").baseUrl,
                 data.path());
  SessionStore b(platform, url, data.path());
  SessionStore other(platform, "https://other.example.com/api", data.path());
  EXPECT_EQ(a.SessionFile(), b.SessionFile());
  EXPECT_NE(a.SessionFile(), other.SessionFile());
  // SHA-256 of "https://api.example.com/api", first 8 bytes in lower-case hex.
  const std::optional<Sha256Digest> digest = real.Sha256(url);
  ASSERT_TRUE(digest);
  char expected[17];
  for (int i = 0; i < 8; ++i) std::snprintf(expected + 2 * i, 3, "%02x", (*digest)[i]);
  EXPECT_EQ(b.SessionFile(), data.path() / ("session-native-" + std::string(expected) + ".bin"));
}

TEST_F(SessionStoreTest, StoredTokenSurvivesARestartAndNotAnotherService) {
  {
    SessionStore store(platform, url, data.path());
    EXPECT_TRUE(store.IsPersistent());
    store.StoreToken(SecretString(std::string("tok-1")), store.AdvanceAuthGeneration());
    EXPECT_TRUE(std::filesystem::exists(store.SessionFile()));
    EXPECT_EQ(FileBytes(store.SessionFile()).find("tok-1"), std::string::npos);  // protected
  }
  SessionStore again(platform, url, data.path());
  const SessionSnapshot snapshot = again.TakeSnapshot();
  EXPECT_EQ(snapshot.token.str(), "tok-1");
  EXPECT_EQ(snapshot.version, 1u);

  // The same file under another service's name cannot be unprotected and is deleted.
  SessionStore other(platform, "https://other.example.com/api", data.path());
  std::filesystem::copy_file(again.SessionFile(), other.SessionFile());
  SessionStore reopened(platform, "https://other.example.com/api", data.path());
  EXPECT_TRUE(reopened.TakeSnapshot().token.empty());
  EXPECT_FALSE(std::filesystem::exists(other.SessionFile()));
}

TEST_F(SessionStoreTest, TemperedOrForeignKeyBlobsAreRefused) {
  std::filesystem::path file;
  {
    SessionStore store(platform, url, data.path());
    store.StoreToken(SecretString(std::string("tok")), store.AdvanceAuthGeneration());
    file = store.SessionFile();
  }
  std::string blob = FileBytes(file);
  blob[blob.size() / 2] ^= 1;
  std::ofstream(file, std::ios::binary) << blob;
  SessionStore tampered(platform, url, data.path());
  EXPECT_TRUE(tampered.TakeSnapshot().token.empty());
  EXPECT_FALSE(std::filesystem::exists(file));

  {
    SessionStore store(platform, url, data.path());
    store.StoreToken(SecretString(std::string("tok")), store.AdvanceAuthGeneration());
  }
  TempDir otherHome;
  SodiumSessionPlatform otherUser(otherHome.path() / "key");
  SessionStore foreign(otherUser, url, data.path());
  EXPECT_TRUE(foreign.TakeSnapshot().token.empty());
}

TEST_F(SessionStoreTest, FileSizeRulesOnReading) {
  std::filesystem::path file;
  {
    SessionStore store(platform, url, data.path());
    file = store.SessionFile();
  }
  for (const std::size_t size : {std::size_t{0}, std::size_t{65537}}) {
    std::ofstream(file, std::ios::binary) << std::string(size, 'x');
    std::filesystem::permissions(file, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);  // as ours are
    SessionStore store(platform, url, data.path());
    EXPECT_TRUE(store.TakeSnapshot().token.empty());
    EXPECT_TRUE(std::filesystem::exists(file)) << size;  // left in place
  }
  // 65536 bytes are read (and, not being a valid blob, deleted).
  std::ofstream(file, std::ios::binary) << std::string(65536, 'x');
  SessionStore store(platform, url, data.path());
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(SessionStoreTest, TokensBreakingTheRuleAreDeletedAtStart) {
  for (const std::string& bad :
       {std::string("has space"), std::string("ctl\x01"), std::string(16385, 't')}) {
    std::filesystem::path file;
    {
      SessionStore store(platform, url, data.path());
      store.StoreToken(SecretString(bad), store.AdvanceAuthGeneration());
      file = store.SessionFile();
    }
    ASSERT_TRUE(std::filesystem::exists(file));
    SessionStore store(platform, url, data.path());
    EXPECT_TRUE(store.TakeSnapshot().token.empty());
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  EXPECT_TRUE(IsValidToken(std::string(16384, '~')));
  EXPECT_FALSE(IsValidToken(""));
}

TEST_F(SessionStoreTest, LaterLoginOrLogoutWins) {
  SessionStore store(platform, url, data.path());
  const std::uint64_t first = store.AdvanceAuthGeneration();
  const std::uint64_t second = store.AdvanceAuthGeneration();
  store.StoreToken(SecretString(std::string("second")), second);
  EXPECT_EQ(FailureOf([&] { store.StoreToken(SecretString(std::string("first")), first); }),
            Text(failures::kAuthChanged));
  EXPECT_EQ(store.TakeSnapshot().token.str(), "second");

  const std::uint64_t login = store.AdvanceAuthGeneration();
  const SessionSnapshot logout = store.BeginLogout();
  EXPECT_EQ(FailureOf([&] { store.StoreToken(SecretString(std::string("late")), login); }),
            Text(failures::kAuthChanged));
  store.ClearIfCurrent(logout);
  EXPECT_TRUE(store.TakeSnapshot().token.empty());
}

TEST_F(SessionStoreTest, ClearOnlyTheSessionTheSnapshotSaw) {
  SessionStore store(platform, url, data.path());
  store.StoreToken(SecretString(std::string("old")), store.AdvanceAuthGeneration());
  const SessionSnapshot old = store.TakeSnapshot();
  store.StoreToken(SecretString(std::string("new")), store.AdvanceAuthGeneration());
  store.ClearIfCurrent(old);  // a 401 to a request made with the old token
  EXPECT_EQ(store.TakeSnapshot().token.str(), "new");

  const SessionSnapshot current = store.TakeSnapshot();
  store.ClearIfCurrent(current);
  const SessionSnapshot after = store.TakeSnapshot();
  EXPECT_TRUE(after.token.empty());
  EXPECT_EQ(after.version, current.version + 1);
  EXPECT_FALSE(std::filesystem::exists(store.SessionFile()));
}

TEST_F(SessionStoreTest, LogoutWhileLoggedOutStillDeletesTheFile) {
  SessionStore store(platform, url, data.path());
  std::ofstream(store.SessionFile()) << "stale";
  const SessionSnapshot snapshot = store.BeginLogout();
  store.ClearIfCurrent(snapshot);
  EXPECT_FALSE(std::filesystem::exists(store.SessionFile()));
  EXPECT_EQ(store.TakeSnapshot().version, snapshot.version + 1);
}

TEST_F(SessionStoreTest, FailingWriteMakesTheStoreMemoryOnlyWithTheTokenKept) {
  SessionStore store(platform, url, data.path());
  platform.failWrite = true;
  store.StoreToken(SecretString(std::string("kept")), store.AdvanceAuthGeneration());
  EXPECT_FALSE(store.IsPersistent());
  EXPECT_EQ(store.TakeSnapshot().token.str(), "kept");
  EXPECT_FALSE(std::filesystem::exists(store.SessionFile()));
  platform.failWrite = false;
  store.StoreToken(SecretString(std::string("again")), store.AdvanceAuthGeneration());
  EXPECT_FALSE(std::filesystem::exists(store.SessionFile()));  // never written again
  ASSERT_EQ(platform.temporaries.size(), 1u);
  EXPECT_EQ(platform.temporaries[0].rfind(store.SessionFile().filename().string() + ".tmp-" +
                                              std::to_string(real.ProcessId()) + "-",
                                          0),
            0u);
}

TEST_F(SessionStoreTest, OldLeftoversOfThisStoreGoAndNewTemporaryNamesCannotMeetThem) {
  const std::string name = SessionStore(platform, url, data.path()).SessionFile().filename();
  const std::string pid = std::to_string(real.ProcessId());
  // Left by a crash of an earlier process that had this process id, with the names its
  // first writes used; one being written by another process right now; another store's.
  const std::string leftover = name + ".tmp-" + pid + "-1";
  const std::string inProgress = name + ".tmp-" + pid + "-2-0123456789abcdef";
  const std::string foreign = "session-native-0000000000000000.bin.tmp-" + pid + "-1";
  for (const std::string& file : {leftover, inProgress, foreign}) data.Write(file, "x");
  const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5);
  std::filesystem::last_write_time(data.path() / leftover, longAgo);
  std::filesystem::last_write_time(data.path() / foreign, longAgo);

  SessionStore store(platform, url, data.path());
  EXPECT_FALSE(std::filesystem::exists(data.path() / leftover));
  EXPECT_TRUE(std::filesystem::exists(data.path() / inProgress));
  EXPECT_TRUE(std::filesystem::exists(data.path() / foreign));
  store.StoreToken(SecretString(std::string("tok-1")), store.AdvanceAuthGeneration());
  store.StoreToken(SecretString(std::string("tok-2")), store.AdvanceAuthGeneration());
  EXPECT_TRUE(store.IsPersistent());
  ASSERT_EQ(platform.temporaries.size(), 2u);
  const std::regex shape(name + R"(\.tmp-)" + pid + R"(-\d+-[0-9a-f]{16})");
  for (const std::string& temporary : platform.temporaries) {
    EXPECT_TRUE(std::regex_match(temporary, shape)) << temporary;
  }
  EXPECT_NE(platform.temporaries[0].substr(platform.temporaries[0].size() - 16),
            platform.temporaries[1].substr(platform.temporaries[1].size() - 16));
}

TEST_F(SessionStoreTest, UnavailableProtectionOrFolderMeansMemoryOnly) {
  platform.failProtect = true;
  SessionStore noProtection(platform, url, data.path());
  EXPECT_FALSE(noProtection.IsPersistent());
  noProtection.StoreToken(SecretString(std::string("t")), noProtection.AdvanceAuthGeneration());
  EXPECT_EQ(noProtection.TakeSnapshot().token.str(), "t");
  platform.failProtect = false;

  std::ofstream(data.path() / "file") << "x";
  SessionStore noFolder(platform, url, data.path() / "file" / "sub");
  EXPECT_FALSE(noFolder.IsPersistent());

  platform.failHash = true;
  EXPECT_EQ(FailureOf([&] { SessionStore(platform, url, data.path()); }),
            Text(failures::kSessionStoreInit));
}

// What may stand in the place of a key or session file that is not a private regular
// file of the user's: a FIFO (which would block an ordinary open), a link to a private
// file, a file readable by others, a file of another owner (only root can make one).
enum class Impostor { kFifo, kLink, kOpenMode, kOtherOwner };

std::vector<Impostor> Impostors() {
  std::vector<Impostor> impostors{Impostor::kFifo, Impostor::kLink, Impostor::kOpenMode};
  if (::geteuid() == 0) impostors.push_back(Impostor::kOtherOwner);
  return impostors;
}

// Puts the impostor at `path`; a link points at a private copy of `bytes`.
void PlaceImpostor(Impostor impostor, const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::remove(path);
  const std::filesystem::path elsewhere = path.string() + ".elsewhere";
  switch (impostor) {
    case Impostor::kFifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
      return;
    case Impostor::kLink:
      std::filesystem::remove(elsewhere);
      std::ofstream(elsewhere, std::ios::binary) << bytes;
      std::filesystem::permissions(
          elsewhere, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
      std::filesystem::create_symlink(elsewhere, path);
      return;
    case Impostor::kOpenMode:
      std::ofstream(path, std::ios::binary) << bytes;
      ::chmod(path.c_str(), 0644);
      return;
    case Impostor::kOtherOwner:
      std::ofstream(path, std::ios::binary) << bytes;
      ::chmod(path.c_str(), 0600);
      ASSERT_EQ(::chown(path.c_str(), 4242, 4242), 0);
      return;
  }
}

std::filesystem::file_type TypeOf(const std::filesystem::path& path) {
  return std::filesystem::symlink_status(path).type();
}

TEST_F(SessionStoreTest, KeyFileThatIsNotAPrivateRegularFileIsReplacedAsAMissingOne) {
  const std::filesystem::path keyFile = home.path() / "key";
  for (const Impostor impostor : Impostors()) {
    PlaceImpostor(impostor, keyFile, std::string(32, 'k'));
    {
      // Opening must neither block on a FIFO nor take a key not the user's own.
      SessionStore store(platform, url, data.path());
      EXPECT_TRUE(store.IsPersistent());
      store.StoreToken(SecretString(std::string("tok")), store.AdvanceAuthGeneration());
    }
    struct stat status {};
    ASSERT_EQ(::lstat(keyFile.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode)) << static_cast<int>(impostor);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(status.st_uid, ::geteuid());
    // The new key is the one in use: the session written with it loads.
    SessionStore restarted(platform, url, data.path());
    EXPECT_EQ(restarted.TakeSnapshot().token.str(), "tok") << static_cast<int>(impostor);
  }
  // What a link pointed at is left alone.
  EXPECT_EQ(FileBytes(keyFile.string() + ".elsewhere"), std::string(32, 'k'));
}

TEST_F(SessionStoreTest, SessionFileThatIsNotAPrivateRegularFileIsNotReadNorTouched) {
  std::filesystem::path file;
  {
    SessionStore store(platform, url, data.path());
    store.StoreToken(SecretString(std::string("tok")), store.AdvanceAuthGeneration());
    file = store.SessionFile();
  }
  const std::string blob = FileBytes(file);
  for (const Impostor impostor : Impostors()) {
    // The same blob, which loads from a private file, is refused from each impostor.
    PlaceImpostor(impostor, file, blob);
    const std::filesystem::file_type type = TypeOf(file);
    SessionStore store(platform, url, data.path());
    EXPECT_TRUE(store.TakeSnapshot().token.empty()) << static_cast<int>(impostor);
    EXPECT_EQ(TypeOf(file), type);  // unreadable: left in place
  }
  std::filesystem::remove(file);
  std::ofstream(file, std::ios::binary) << blob;
  std::filesystem::permissions(
      file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  SessionStore store(platform, url, data.path());
  EXPECT_EQ(store.TakeSnapshot().token.str(), "tok");
}

TEST_F(SessionStoreTest, LogoutThatCannotDeleteTheFileStaysALogoutAfterARestart) {
  FakeHttpEngine engine;
  const std::string credentials = R"([{"email":"a@b.c","password":"p"}])";
  std::filesystem::path file;
  {
    ApiBridge bridge(url, data.path(), platform, engine);
    engine.reply.body = R"({"token":"tok-1","user":{"id":1}})";
    nlohmann::json login = nlohmann::json::parse(credentials);
    bridge.Call("login", login);
    file = SessionStore(platform, url, data.path()).SessionFile();
    ASSERT_FALSE(FileBytes(file).empty());
    // As a file held open elsewhere on Windows: it cannot be deleted.
    platform.failDelete = true;
    engine.reply.status = 204;
    nlohmann::json none = nlohmann::json::array();
    EXPECT_EQ(bridge.Call("logout", none).ToJson(), nlohmann::json());
  }
  EXPECT_EQ(platform.erases, 1);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  // The restart finds no session: nothing is sent for a call that needs one.
  const int opened = engine.opened;
  ApiBridge restarted(url, data.path(), platform, engine);
  nlohmann::json none = nlohmann::json::array();
  EXPECT_EQ(FailureOf([&] { restarted.Call("me", none); }), Text(failures::kUnauthorized));
  EXPECT_EQ(engine.opened, opened);
  // The next login writes the file again, and that session survives a restart.
  platform.failDelete = false;
  engine.reply.status = 200;
  engine.reply.body = R"({"token":"tok-2","user":{"id":1}})";
  nlohmann::json login = nlohmann::json::parse(credentials);
  restarted.Call("login", login);
  EXPECT_EQ(SessionStore(platform, url, data.path()).TakeSnapshot().token.str(), "tok-2");
}

}  // namespace
}  // namespace vardeko::testing
