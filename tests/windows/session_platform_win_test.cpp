// The session store on DPAPI, CNG and Win32 files, as Windows runs it.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

#include "service/service_address.h"
#include "service/session_store.h"

namespace vardeko {
namespace {

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

}  // namespace
}  // namespace vardeko
