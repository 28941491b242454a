// The session store on DPAPI, CNG and Win32 files, as Windows runs it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

#include "base/unique_handle_win.h"
#include "program_process.h"
#include "service/service_address.h"
#include "service/session_store.h"

namespace vardeko {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Another process holding a file open without any sharing for a while, as a virus
// scanner or an indexer does with a file just written; holding once constructed.
class FileHolder {
 public:
  FileHolder(const std::filesystem::path& file, milliseconds hold) {
    static int count = 0;
    const std::wstring event = L"Local\\VardekoFileHolder-" +
                               std::to_wstring(GetCurrentProcessId()) + L"-" +
                               std::to_wstring(++count);
    const UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, event.c_str()));
    process_ = std::make_unique<testing::ProgramProcess>(
        HolderExe(),
        std::map<std::wstring, std::wstring>{{L"SystemRoot", L"C:\\windows"},
                                             {L"VARDEKO_HOLD_FILE", file.wstring()},
                                             {L"VARDEKO_HOLD_MS", std::to_wstring(hold.count())},
                                             {L"VARDEKO_HOLD_READY", event}});
    holding_ = WaitForSingleObject(ready.get(), 20000) == WAIT_OBJECT_0;
  }
  bool holding() const { return holding_; }
  std::optional<DWORD> WaitForExit() { return process_->WaitForExit(milliseconds(20000)); }

 private:
  // Built beside this test program.
  static std::filesystem::path HolderExe() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::path(self).parent_path() / L"file_holder.exe";
  }

  std::unique_ptr<testing::ProgramProcess> process_;
  bool holding_ = false;
};

class Win32SessionStoreTest : public ::testing::Test {
 protected:
  Win32SessionStoreTest() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    data_ = std::filesystem::path(temp) /
            (L"vardeko-session-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::remove_all(data_);
  }
  ~Win32SessionStoreTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(data_, ignored);
  }

  std::filesystem::path data_;
};

TEST_F(Win32SessionStoreTest, Sha256MatchesTheKnownDigest) {
  const std::optional<Sha256Digest> digest = SystemSessionPlatform().Sha256("abc");
  ASSERT_TRUE(digest);
  EXPECT_EQ((*digest)[0], 0xBA);
  EXPECT_EQ((*digest)[1], 0x78);
  EXPECT_EQ((*digest)[31], 0xAD);
}

TEST_F(Win32SessionStoreTest, TokenIsWrittenReloadedAndRefusedUnderOtherEntropy) {
  const std::string url = ParseServiceAddress("https://api.example.com/api").baseUrl;
  std::filesystem::path file;
  {
    SessionStore store(SystemSessionPlatform(), url, data_ / L"nested");
    ASSERT_TRUE(store.IsPersistent());
    store.StoreToken(SecretString(std::string("tok-win")), store.AdvanceAuthGeneration());
    file = store.SessionFile();
  }
  ASSERT_TRUE(std::filesystem::exists(file));
  {
    std::ifstream in(file, std::ios::binary);
    const std::string blob((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(blob.find("tok-win"), std::string::npos);
  }
  {
    SessionStore again(SystemSessionPlatform(), url, data_ / L"nested");
    EXPECT_EQ(again.TakeSnapshot().token.str(), "tok-win");
  }
  // The blob under another service's name is made with other entropy: refused, deleted.
  SessionStore other(SystemSessionPlatform(), "https://other.example.com/api", data_ / L"nested");
  std::filesystem::copy_file(file, other.SessionFile());
  SessionStore reopened(SystemSessionPlatform(), "https://other.example.com/api",
                        data_ / L"nested");
  EXPECT_TRUE(reopened.TakeSnapshot().token.empty());
  EXPECT_FALSE(std::filesystem::exists(other.SessionFile()));
}

TEST_F(Win32SessionStoreTest, ReplacementLeavesNoTemporaryFiles) {
  const std::string url = ParseServiceAddress("https://api.example.com/api").baseUrl;
  SessionStore store(SystemSessionPlatform(), url, data_);
  for (int i = 0; i < 3; ++i) {
    store.StoreToken(SecretString("tok-" + std::to_string(i)), store.AdvanceAuthGeneration());
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(data_)) {
    EXPECT_EQ(entry.path(), store.SessionFile());
    ++files;
  }
  EXPECT_EQ(files, 1);
  store.ClearIfCurrent(store.TakeSnapshot());
  EXPECT_FALSE(std::filesystem::exists(store.SessionFile()));
}

TEST_F(Win32SessionStoreTest, SessionFileHeldOpenElsewhereIsEmptiedAtLogoutAndNotLoadedAgain) {
  const std::string url = ParseServiceAddress("https://api.example.com/api").baseUrl;
  std::filesystem::path file;
  {
    SessionStore store(SystemSessionPlatform(), url, data_);
    store.StoreToken(SecretString(std::string("tok-held")), store.AdvanceAuthGeneration());
    file = store.SessionFile();
    // Another program reads it without delete sharing (a backup, a virus scanner).
    const HANDLE other = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    store.ClearIfCurrent(store.TakeSnapshot());  // the logout
    EXPECT_TRUE(std::filesystem::exists(file));
    CloseHandle(other);
  }
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  SessionStore restarted(SystemSessionPlatform(), url, data_);
  EXPECT_TRUE(restarted.TakeSnapshot().token.empty());
}

TEST_F(Win32SessionStoreTest, LoginPersistsWhenAnotherProgramLetsGoOfTheSessionFileInTime) {
  const std::string url = ParseServiceAddress("https://api.example.com/api").baseUrl;
  std::filesystem::path file;
  {
    SessionStore store(SystemSessionPlatform(), url, data_);
    store.StoreToken(SecretString(std::string("tok-old")), store.AdvanceAuthGeneration());
    file = store.SessionFile();
    FileHolder holder(file, milliseconds(300));
    ASSERT_TRUE(holder.holding());
    const auto start = Clock::now();
    store.StoreToken(SecretString(std::string("tok-new")), store.AdvanceAuthGeneration());
    const auto took = Clock::now() - start;
    EXPECT_TRUE(store.IsPersistent());
    EXPECT_EQ(holder.WaitForExit(), 0u);
    std::printf("login with the session file held 300 ms: %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<milliseconds>(took).count()));
  }
  SessionStore restarted(SystemSessionPlatform(), url, data_);
  EXPECT_EQ(restarted.TakeSnapshot().token.str(), "tok-new");
  for (const auto& entry : std::filesystem::directory_iterator(data_)) {
    EXPECT_EQ(entry.path(), file);  // no temporary left behind
  }
}

TEST_F(Win32SessionStoreTest, LogoutSticksWhenAnotherProgramLetsGoOfTheSessionFileInTime) {
  const std::string url = ParseServiceAddress("https://api.example.com/api").baseUrl;
  {
    SessionStore store(SystemSessionPlatform(), url, data_);
    store.StoreToken(SecretString(std::string("tok-held")), store.AdvanceAuthGeneration());
    FileHolder holder(store.SessionFile(), milliseconds(300));
    ASSERT_TRUE(holder.holding());
    store.ClearIfCurrent(store.TakeSnapshot());
    EXPECT_EQ(holder.WaitForExit(), 0u);
    EXPECT_FALSE(std::filesystem::exists(store.SessionFile()));
  }
  SessionStore restarted(SystemSessionPlatform(), url, data_);
  EXPECT_TRUE(restarted.TakeSnapshot().token.empty());
  EXPECT_TRUE(restarted.IsPersistent());
}

TEST_F(Win32SessionStoreTest, AHolderThatStaysTooLongEndsPersistenceWithinTheRetryTime) {
  const std::string url = ParseServiceAddress("https://api.example.com/api").baseUrl;
  SessionStore store(SystemSessionPlatform(), url, data_);
  store.StoreToken(SecretString(std::string("tok-old")), store.AdvanceAuthGeneration());
  FileHolder holder(store.SessionFile(), milliseconds(4000));
  ASSERT_TRUE(holder.holding());
  const auto start = Clock::now();
  store.StoreToken(SecretString(std::string("tok-new")), store.AdvanceAuthGeneration());
  const auto took = Clock::now() - start;
  // The move's second, then the removal of the old file (about another second).
  EXPECT_FALSE(store.IsPersistent());
  EXPECT_EQ(store.TakeSnapshot().token.str(), "tok-new");
  EXPECT_GE(took, milliseconds(900));
  EXPECT_LT(took, milliseconds(3500));
  std::printf("login with the session file held 4000 ms: %lld ms\n",
              static_cast<long long>(std::chrono::duration_cast<milliseconds>(took).count()));
  EXPECT_EQ(holder.WaitForExit(), 0u);
}

TEST_F(Win32SessionStoreTest, TemporariesLeftByEarlierRunsDoNotEndPersistence) {
  const std::string url = ParseServiceAddress("https://api.example.com/api").baseUrl;
  std::filesystem::path file = SessionStore(SystemSessionPlatform(), url, data_).SessionFile();
  // An earlier process with this process id that crashed while writing: the names its
  // first writes used, from long ago.
  const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  for (int counter = 1; counter <= 64; ++counter) {
    std::filesystem::path leftover = file;
    leftover += L".tmp-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter);
    std::ofstream(leftover, std::ios::binary) << "partial";
    std::filesystem::last_write_time(leftover, longAgo);
  }
  SessionStore store(SystemSessionPlatform(), url, data_);
  store.StoreToken(SecretString(std::string("tok-after-crash")), store.AdvanceAuthGeneration());
  EXPECT_TRUE(store.IsPersistent());
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(data_)) {
    EXPECT_EQ(entry.path(), file);
    ++files;
  }
  EXPECT_EQ(files, 1);
  EXPECT_EQ(SessionStore(SystemSessionPlatform(), url, data_).TakeSnapshot().token.str(),
            "tok-after-crash");
}

}  // namespace
}  // namespace vardeko
