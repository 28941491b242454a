#include "shell/launch_config.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "fakes/fake_launch_platform.h"
#include "fakes/temp_dir.h"
#include "shell/host.h"

namespace vardeko::testing {
namespace {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "<no error>";
}

TEST(SingleInstanceKeyTest, HashesTheUtf16LeBytesOfThePathAsResolved) {
  EXPECT_EQ(SingleInstanceMutexName(u"D:\\data"), u"Local\\VardekoNative-14471098098584219855");
  EXPECT_NE(SingleInstanceMutexName(u"D:\\Data"), SingleInstanceMutexName(u"D:\\data"));
  EXPECT_NE(SingleInstanceMutexName(u"D:\\data\\"), SingleInstanceMutexName(u"D:\\data"));
  EXPECT_NE(SingleInstanceMutexName(u"D:\\数据"), SingleInstanceMutexName(u"D:\\data"));
  EXPECT_EQ(SingleInstanceMutexName(u""), u"Local\\VardekoNative-14695981039346656037");
}

TEST(ExecutableDirectoryTest, DropsTheLastComponentAndItsSeparators) {
  EXPECT_EQ(ParentDirectory(u"C:\\Program Files\\Vardeko\\Vardeko.exe"),
            u"C:\\Program Files\\Vardeko");
  EXPECT_EQ(ParentDirectory(u"C:\\Vardeko\\\\Vardeko.exe"), u"C:\\Vardeko");
  EXPECT_EQ(ParentDirectory(u"C:/tools/Vardeko.exe"), u"C:/tools");
  EXPECT_EQ(ParentDirectory(u"C:\\Vardeko.exe"), u"C:\\");
  EXPECT_EQ(ParentDirectory(u"/opt/vardeko/vardeko-bridge"), u"/opt/vardeko");
  EXPECT_EQ(ParentDirectory(u"/vardeko"), u"/");

  FakeLaunchPlatform platform;
  EXPECT_EQ(ErrorOf([&] { ExecutableDirectory(platform); }), "executable path");
}

class LaunchConfigTest : public ::testing::Test {
 protected:
  FakeLaunchPlatform platform;
  TempDir renderer;
};

TEST_F(LaunchConfigTest, DataDirectoryComesFromTheVariableMadeAbsolute) {
  platform.localAppData = "/home/user/.local/share";
  EXPECT_EQ(ResolveDataDirectory(platform), "/home/user/.local/share/Vardeko");
  platform.environment[u"VARDEKO_DATA_DIR"] = u"";
  EXPECT_EQ(ResolveDataDirectory(platform), "/home/user/.local/share/Vardeko");
  platform.environment[u"VARDEKO_DATA_DIR"] = u".";
  EXPECT_EQ(ResolveDataDirectory(platform), "/work");
  platform.environment[u"VARDEKO_DATA_DIR"] = u"data/../store/./x";
  EXPECT_EQ(ResolveDataDirectory(platform), "/work/store/x");
}

TEST_F(LaunchConfigTest, MissingApplicationDataFolderFailsStartUp) {
  EXPECT_EQ(ErrorOf([&] { ResolveDataDirectory(platform); }), "application data");
}

TEST_F(LaunchConfigTest, ServiceBaseUrlDefaultsToHttpsWithApiPath) {
  EXPECT_EQ(ResolveServiceBaseUrl(platform), "https://ledger.vardeko.com/api");
  platform.environment[u"VARDEKO_API_URL"] = u"http://127.0.0.1:8080/api";
  EXPECT_EQ(ResolveServiceBaseUrl(platform), "http://127.0.0.1:8080/api");
  platform.environment[u"VARDEKO_API_URL"] = std::u16string{u'h', 0xD800};
  EXPECT_EQ(ErrorOf([&] { ResolveServiceBaseUrl(platform); }), "invalid UTF-16");
}

TEST_F(LaunchConfigTest, DevelopmentUrlComesOnlyFromTheAllowList) {
  const struct {
    std::u16string value;
    std::u16string startUrl;
  } allowed[] = {
      {u"http://localhost:5173", u"http://localhost:5173/"},
      {u"http://localhost:5173/", u"http://localhost:5173/"},
      {u"http://127.0.0.1:5173", u"http://127.0.0.1:5173/"},
      {u"http://127.0.0.1:5173/", u"http://127.0.0.1:5173/"},
  };
  for (const auto& [value, startUrl] : allowed) {
    platform.environment[u"VARDEKO_DEV_URL"] = value;
    // The renderer folder is not needed in development mode.
    EXPECT_EQ(ResolveStartUrl(platform, "/nonexistent", kStartUrl), startUrl);
  }
  for (const char16_t* value :
       {u"http://localhost:5174", u"https://localhost:5173", u"http://LOCALHOST:5173",
        u"http://localhost:5173/app", u"http://localhost:5173 ", u" http://localhost:5173",
        u"http://[::1]:5173", u"http://localhost:5173//"}) {
    platform.environment[u"VARDEKO_DEV_URL"] = value;
    EXPECT_EQ(ErrorOf([&] { ResolveStartUrl(platform, renderer.path(), kStartUrl); }),
              "invalid development URL");
  }
}

TEST_F(LaunchConfigTest, InstalledPageNeedsARegularIndexFile) {
  EXPECT_EQ(ErrorOf([&] { ResolveStartUrl(platform, renderer.path(), kStartUrl); }),
            "missing renderer");
  EXPECT_EQ(ErrorOf([&] { ResolveStartUrl(platform, renderer.path() / "absent", kStartUrl); }),
            "missing renderer");
  std::filesystem::create_directory(renderer.path() / "index.html");
  EXPECT_EQ(ErrorOf([&] { ResolveStartUrl(platform, renderer.path(), kStartUrl); }),
            "missing renderer");
  std::filesystem::remove(renderer.path() / "index.html");
  renderer.Write("index.html", "<!doctype html>");
  EXPECT_EQ(ResolveStartUrl(platform, renderer.path(), kStartUrl), kStartUrl);
}

TEST_F(LaunchConfigTest, DebugPortMustBeOneToFiveDigitsFrom1024To65535) {
  const auto port = [&](const std::u16string& value) {
    platform.environment[u"VARDEKO_DEBUG_PORT"] = value;
    return ResolveDebugPort(platform);
  };
  EXPECT_EQ(port(u"9222"), u"9222");
  EXPECT_EQ(port(u"1024"), u"1024");
  EXPECT_EQ(port(u"65535"), u"65535");
  EXPECT_EQ(port(u"01024"), u"01024");  // kept as read
  for (const char16_t* ignored : {u"", u"1023", u"65536", u"123456", u"+9222", u"9a22", u" 9222",
                                  u"9222 ", u"-1", u"000000"}) {
    EXPECT_EQ(port(ignored), std::nullopt);
  }
}

}  // namespace
}  // namespace vardeko::testing
