// Starts the real Vardeko.exe (under Wine, on a display) and checks how start-up ends:
// the one start-up message box with exit code 1, and the single-instance rule.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "windows/program_process.h"

namespace vardeko {
namespace {

using namespace std::chrono_literals;

std::filesystem::path g_program;  // the program folder's Vardeko.exe, from the command line

constexpr wchar_t kStartupFailureText[] = L"Vardeko 未能启动，请检查安装文件和后端地址后重试。";

using Process = testing::ProgramProcess;
using testing::CopyTree;
using testing::MessageBoxText;
using testing::WindowText;

void ExpectStartupBox(HWND box) {
  ASSERT_NE(box, nullptr) << "no message box";
  EXPECT_EQ(WindowText(box), L"Vardeko");
  EXPECT_EQ(MessageBoxText(box), kStartupFailureText);
}

void Dismiss(HWND box) { testing::DismissMessageBox(box); }

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    root_ = std::filesystem::path(temp) /
            (L"vardeko-startup-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::remove_all(root_);
    install_ = root_ / L"install";
    CopyTree(g_program.parent_path(), install_);
  }
  ~StartupTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::map<std::wstring, std::wstring> Variables(const std::wstring& dataDirectory) {
    return {{L"VARDEKO_DATA_DIR", (root_ / dataDirectory).wstring()},
            {L"SystemRoot", L"C:\\windows"},
            {L"PATH", L"C:\\windows\\system32;C:\\windows"}};
  }

  std::filesystem::path Exe() const { return install_ / L"Vardeko.exe"; }

  // Starts the program, which must show the start-up box and, once it is dismissed,
  // exit with 1.
  void ExpectStartupFailure(const std::map<std::wstring, std::wstring>& variables) {
    Process vardeko(Exe(), variables);
    HWND box = vardeko.WaitForMessageBox(60s);
    ExpectStartupBox(box);
    Dismiss(box);
    EXPECT_EQ(vardeko.WaitForExit(30s), 1u);
  }

  std::filesystem::path root_;
  std::filesystem::path install_;
};

TEST_F(StartupTest, MissingRendererPageShowsTheStartupBoxAndExitsWithOne) {
  std::filesystem::remove(install_ / L"renderer" / L"index.html");
  ExpectStartupFailure(Variables(L"data"));
  // The data directory is created before the page files are looked for.
  EXPECT_TRUE(std::filesystem::is_directory(root_ / L"data"));
}

TEST_F(StartupTest, InvalidDevelopmentUrlShowsTheStartupBoxAndExitsWithOne) {
  auto variables = Variables(L"data");
  variables[L"VARDEKO_DEV_URL"] = L"http://localhost:3000";
  ExpectStartupFailure(variables);
}

TEST_F(StartupTest, RemoteHttpServiceAddressShowsTheStartupBoxAndExitsWithOne) {
  auto variables = Variables(L"data");
  variables[L"VARDEKO_API_URL"] = L"http://ledger.example.com/api";
  ExpectStartupFailure(variables);
}

TEST_F(StartupTest, OneInstancePerDataDirectory) {
  // Without a WebView2 runtime the first start stops at its start-up box, with its
  // window up and the data directory's mutex held: a running first instance.
  Process first(Exe(), Variables(L"shared"));
  HWND firstBox = first.WaitForMessageBox(60s);
  ASSERT_NE(firstBox, nullptr);

  Process second(Exe(), Variables(L"shared"));
  EXPECT_EQ(second.WaitForExit(60s), 0u);

  Process other(Exe(), Variables(L"other"));
  HWND otherBox = other.WaitForMessageBox(60s);
  ExpectStartupBox(otherBox);
  Dismiss(otherBox);
  EXPECT_EQ(other.WaitForExit(30s), 1u);

  Dismiss(firstBox);
  EXPECT_EQ(first.WaitForExit(30s), 1u);
}

}  // namespace
}  // namespace vardeko

int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: startup_tests PATH\\TO\\Vardeko.exe\n");
    return 2;
  }
  vardeko::g_program = argv[1];
  return RUN_ALL_TESTS();
}
