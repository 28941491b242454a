"""The setup program under Wine, end to end.

Each test makes its own Wine prefix (own wineserver, own home folder, so nothing reaches
the Linux user's desktop or menus), runs dist/Vardeko-0.9.4-setup.exe in it and looks at
the result from the Linux side (files, shortcuts, registry export) and through
wintool.exe from inside the prefix (windows, message boxes, shortcut targets). The tests
need an X display: run them inside xvfb-run, as tools/test does.

VARDEKO_PROGRAM_DIR and VARDEKO_SETUP override the program folder and setup program
(default: the main job's dist/Vardeko and dist/Vardeko-0.9.4-setup.exe)."""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PROGRAM = Path(os.environ.get("VARDEKO_PROGRAM_DIR", ROOT / "dist" / "Vardeko"))
SETUP = Path(os.environ.get("VARDEKO_SETUP", ROOT / "dist" / "Vardeko-0.9.4-setup.exe"))
WORK = ROOT / "build" / "installer-tests"
WINTOOL = WORK / "wintool.exe"

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vardeko"
RUNTIME_CLIENT = r"Microsoft\EdgeUpdate\Clients\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"
SETUP_CAPTION = "Vardeko 安装"
UNINSTALL_CAPTION = "Vardeko 卸载"
STARTUP_FAILURE = "Vardeko 未能启动，请检查安装文件和后端地址后重试。"
RUNNING_NOTICE = "Vardeko 正在运行。"
RUNTIME_NOTICE = "注意：这台电脑上没有找到 Microsoft Edge WebView2 运行时"
WELCOME = "此程序将把 Vardeko 0.9.4 安装到这台电脑上"
FINISHED = "Vardeko 已安装到："
UNINSTALL_PAGE = "将删除以下文件夹中的 Vardeko"
DESKTOP_BOX = "创建桌面快捷方式"
REMOVE_DATA_BOX = "同时删除我的数据"
IDOK, IDCANCEL, IDRETRY, IDYES = 1, 2, 4, 6
EXIT_CANCELLED, EXIT_FAILED, EXIT_RUNNING = 1, 2, 3
SESSION_FILE = "session-native-0123456789abcdef.bin"


def setUpModule():
    if not SETUP.is_file() or not (PROGRAM / "Vardeko.exe").is_file():
        raise RuntimeError(f"{SETUP} or {PROGRAM} missing: run tools/build first")
    if not os.environ.get("DISPLAY"):
        raise RuntimeError("no X display: run inside xvfb-run")
    source = Path(__file__).with_name("wintool.c")
    WORK.mkdir(parents=True, exist_ok=True)
    if not WINTOOL.exists() or WINTOOL.stat().st_mtime < source.stat().st_mtime:
        subprocess.run(["x86_64-w64-mingw32-gcc", "-std=c11", "-O2", "-Wall", "-Wextra", "-Werror",
                        "-municode", "-static", "-o", str(WINTOOL), str(source),
                        "-lole32", "-luuid", "-lversion", "-lshell32"], check=True)


def windows_path(path):
    """The Windows name of a Linux path, through Wine's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")


def tree(folder):
    """Every file below folder: relative path -> contents."""
    return {p.relative_to(folder).as_posix(): p.read_bytes()
            for p in sorted(Path(folder).rglob("*")) if p.is_file()}


def stamped_tree(folder):
    """tree() with each file's modification time, to see that nothing was rewritten."""
    return {name: (data, (Path(folder) / name).stat().st_mtime_ns)
            for name, data in tree(folder).items()}


def parse_reg_export(text):
    """Values of the one key in a `reg export` file: strings and DWORDs."""
    values = {}
    for line in text.splitlines():
        match = re.fullmatch(r'"((?:[^"\\]|\\.)*)"=(.*)', line)
        if not match:
            continue
        name = re.sub(r"\\(.)", r"\1", match.group(1))
        raw = match.group(2)
        if raw.startswith("dword:"):
            values[name] = int(raw[len("dword:"):], 16)
        elif raw.startswith('"') and raw.endswith('"'):
            values[name] = re.sub(r"\\(.)", r"\1", raw[1:-1])
        else:
            raise AssertionError(f"unexpected registry value type: {line}")
    return values


class Wine:
    """A fresh Wine prefix with its own persistent wineserver, on the shared X display."""

    def __init__(self, root):
        self.root = Path(root)
        self.prefix = self.root / "prefix"
        self.home = self.root / "home"
        self.home.mkdir(parents=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), HOME=str(self.home),
                        WINEDEBUG="-all", LC_ALL="C.UTF-8",
                        # No .NET or Gecko prompts; no menu entries written into HOME.
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")

    def create(self):
        self.server("-p")
        subprocess.run(["wineboot", "-i"], env=self.env, check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A virtual desktop and a CJK font for the dialog fonts, including the setup's
        # Chinese one (宋体), so that Chinese text is drawn as a user would see it.
        fonts = self.root / "fonts.reg"
        fonts.write_bytes(b"\xff\xfe" + (
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
            '"宋体"="WenQuanYi Micro Hei"\r\n"SimSun"="WenQuanYi Micro Hei"\r\n').encode("utf-16-le"))
        for settings in (ROOT / "tools" / "wine-settings.reg", fonts):
            self.wine("regedit", "/S", windows_path(settings))
        # Start over so that the desktop and the fonts take effect.
        self.server("-k")
        self.server("-w")
        self.server("-p")
        # Wine's services and desktop start with the first program; started here, outside
        # any pipe, so that later commands' output pipes are not held open by them.
        subprocess.run(["wine", WINTOOL, "gone", "*", "*", "0"], env=self.env, timeout=300,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        folders = self.wine("cmd", "/c", "echo %LOCALAPPDATA%&echo %APPDATA%&echo %USERPROFILE%")
        local, roaming, profile = folders.stdout.splitlines()
        self.local_app_data = local
        self.default_install = local + r"\Programs\Vardeko"
        self.start_menu_shortcut = roaming + r"\Microsoft\Windows\Start Menu\Programs\Vardeko.lnk"
        self.desktop_shortcut = profile + r"\Desktop\Vardeko.lnk"

    def close(self):
        self.server("-k")

    def server(self, option):
        subprocess.run(["wineserver", option], env=self.env, timeout=120,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wine(self, *args, timeout=180):
        result = subprocess.run(["wine", *map(str, args)], env=self.env, timeout=timeout,
                                stdin=subprocess.DEVNULL, capture_output=True)
        result.stdout = result.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        return result

    def start(self, *args):
        return subprocess.Popen(["wine", *map(str, args)], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tool(self, *args, timeout=180):
        return self.wine(WINTOOL, *args, timeout=timeout)

    def run(self, command_line):
        """Runs a Windows command line as given; returns the exit code."""
        return self.tool("run", command_line).returncode

    def setup(self, *switches, setup=SETUP):
        return self.run(" ".join([f'"{windows_path(setup)}"', *switches]))

    def unix(self, path):
        """The Linux path of a C:\\ path in this prefix."""
        drive, _, rest = path.partition(":\\")
        assert drive.upper() == "C", path
        return self.prefix / "drive_c" / Path(*rest.split("\\"))

    def registry(self, key):
        """The values of a registry key, or None when it does not exist."""
        export = self.root / "export.reg"
        export.unlink(missing_ok=True)
        if self.wine("reg", "export", key, windows_path(export), "/y").returncode != 0:
            return None
        return parse_reg_export(export.read_bytes().decode("utf-16"))

    def window(self, caption, has=None, timeout_ms=60000):
        """The texts of a visible window (its title first), or None when none comes."""
        result = self.tool("find", "#32770", caption, timeout_ms, *([has] if has else []))
        return result.stdout.splitlines() if result.returncode == 0 else None

    def press(self, caption, control_id, has=None):
        self.assertion(self.tool("press", "#32770", caption, control_id, *([has] if has else []))
                       .returncode == 0, f"no window {caption!r} {has or ''} to press {control_id}")

    def tick(self, caption, text):
        self.assertion(self.tool("tick", "#32770", caption, text).returncode == 0,
                       f"no box {text!r} in {caption!r}")

    def wait_for_uninstaller(self):
        # uninstall.exe copies itself to %TEMP%\~nsuN.tmp\Un.exe, starts the copy and ends.
        self.assertion(self.tool("wait-exit", "Un.exe", 120000).returncode == 0,
                       "the uninstaller did not end")

    def shortcut(self, path):
        result = self.tool("shortcut", path)
        return result.stdout.splitlines() if result.returncode == 0 else None

    @staticmethod
    def assertion(condition, message):
        if not condition:
            raise AssertionError(message)


class SetupTest(unittest.TestCase):
    def setUp(self):
        self.scratch = Path(tempfile.mkdtemp(prefix="vardeko-setup-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.wine = Wine(self.scratch)
        self.addCleanup(self.wine.close)
        self.wine.create()

    def entry(self, install):
        """The uninstall entry an install into `install` must leave, value for value."""
        return {
            "DisplayName": "Vardeko",
            "DisplayVersion": "0.9.4",
            "Publisher": "Vardeko",
            "DisplayIcon": install + r"\Vardeko.exe",
            "InstallLocation": install,
            "UninstallString": f'"{install}\\uninstall.exe"',
            "QuietUninstallString": f'"{install}\\uninstall.exe" /S',
            "EstimatedSize": sum(len(data) for data in tree(self.wine.unix(install)).values()) // 1024,
            "NoModify": 1,
            "NoRepair": 1,
        }

    def assertInstalled(self, install):
        """The folder holds exactly the program folder plus uninstall.exe, byte for byte."""
        files = tree(self.wine.unix(install))
        self.assertIn("uninstall.exe", files)
        del files["uninstall.exe"]
        self.assertEqual(sorted(files), sorted(tree(PROGRAM)))
        for name, data in tree(PROGRAM).items():
            self.assertTrue(files[name] == data, f"{name} differs from the program folder")

    def assertShortcut(self, shortcut, install):
        self.assertEqual(self.wine.shortcut(shortcut), [install + r"\Vardeko.exe", install])

    def test_silent_install_puts_the_program_a_shortcut_and_the_uninstall_entry_in_place(self):
        # A folder where the program cannot be written: failure, and no entry.
        blocked = r"C:\Blocked"
        (self.wine.unix(blocked) / "Vardeko.exe").mkdir(parents=True)
        self.assertEqual(self.wine.setup("/S", f"/D={blocked}"), EXIT_FAILED)
        self.assertIsNone(self.wine.registry(UNINSTALL_KEY))
        self.assertFalse(self.wine.unix(self.wine.start_menu_shortcut).exists())

        self.assertEqual(self.wine.setup("/S"), 0)

        install = self.wine.default_install
        self.assertInstalled(install)
        self.assertShortcut(self.wine.start_menu_shortcut, install)
        self.assertFalse(self.wine.unix(self.wine.desktop_shortcut).exists(), "desktop shortcut unasked")
        self.assertEqual(self.wine.registry(UNINSTALL_KEY), self.entry(install))
        # The setup program's own icon and version record.
        self.assertEqual(self.wine.tool("version", windows_path(SETUP)).stdout.splitlines(),
                         ["0.9.4.0", "Vardeko", "0.9.4", "1"])

    def test_a_running_vardeko_stops_setup_and_uninstall_until_it_is_closed(self):
        self.assertEqual(self.wine.setup("/S"), 0)
        install = self.wine.default_install
        folder = self.wine.unix(install)

        # Without a browser runtime the installed program stops at its start-up box,
        # with its main window open.
        vardeko = self.wine.start(install + r"\Vardeko.exe")
        self.addCleanup(vardeko.kill)
        box = self.wine.window("Vardeko")
        self.assertIsNotNone(box, "Vardeko showed no start-up box")
        self.assertIn(f"Static|{STARTUP_FAILURE}", box)
        self.assertEqual(self.wine.tool("find", "VardekoWebView2", "*", 5000).returncode, 0)

        before = stamped_tree(folder)
        entry = self.wine.registry(UNINSTALL_KEY)
        self.assertEqual(self.wine.setup("/S"), EXIT_RUNNING)
        self.assertEqual(self.wine.run(f'"{install}\\uninstall.exe" /S _?={install}'), EXIT_RUNNING)
        self.assertEqual(stamped_tree(folder), before)
        self.assertEqual(self.wine.registry(UNINSTALL_KEY), entry)

        # The wizard asks to close Vardeko, and goes on once it is closed.
        wizard = self.wine.start(SETUP)
        self.assertIsNotNone(self.wine.window(SETUP_CAPTION, WELCOME))
        self.wine.press(SETUP_CAPTION, IDOK)
        self.assertIsNotNone(self.wine.window(SETUP_CAPTION, install))
        self.wine.press(SETUP_CAPTION, IDOK)
        self.assertIsNotNone(self.wine.window(SETUP_CAPTION, RUNNING_NOTICE), "no request to close")
        self.assertEqual(stamped_tree(folder), before)

        self.wine.press("Vardeko", IDOK, STARTUP_FAILURE)
        self.assertEqual(vardeko.wait(60), 1)
        self.wine.press(SETUP_CAPTION, IDRETRY, RUNNING_NOTICE)
        self.assertIsNotNone(self.wine.window(SETUP_CAPTION, FINISHED), "setup did not go on")
        self.wine.press(SETUP_CAPTION, IDOK)
        self.assertEqual(wizard.wait(60), 0)
        self.assertInstalled(install)

    def test_upgrade_replaces_the_page_and_updates_the_entry_where_the_earlier_version_lives(self):
        # An earlier version, installed elsewhere, whose page has files the new one lacks.
        earlier = self.scratch / "earlier" / "Vardeko"
        shutil.copytree(PROGRAM, earlier)
        (earlier / "renderer" / "legacy.js").write_text("old page code\n")
        (earlier / "renderer" / "assets").mkdir(exist_ok=True)
        (earlier / "renderer" / "assets" / "legacy.css").write_text("body{}\n")
        earlier_setup = self.scratch / "Vardeko-0.9.3-setup.exe"
        subprocess.run([ROOT / "installer" / "build", earlier, earlier_setup, "0.9.3"], check=True,
                       stdout=subprocess.DEVNULL)
        install = r"C:\Apps\Vardeko"
        self.assertEqual(self.wine.setup("/S", f"/D={install}", setup=earlier_setup), 0)
        self.assertTrue((self.wine.unix(install) / "renderer" / "assets" / "legacy.css").is_file())
        self.assertEqual(self.wine.registry(UNINSTALL_KEY)["DisplayVersion"], "0.9.3")

        self.assertEqual(self.wine.setup("/S"), 0)

        self.assertInstalled(install)
        self.assertEqual(self.wine.registry(UNINSTALL_KEY), self.entry(install))
        self.assertShortcut(self.wine.start_menu_shortcut, install)
        self.assertFalse(self.wine.unix(self.wine.default_install).exists())

    def test_silent_uninstall_from_a_folder_with_blanks_and_chinese_keeps_the_user_data(self):
        install = r"C:\我的 程序\Vardeko 账本"
        self.assertEqual(self.wine.setup("/S", f"/D={install}"), 0)
        self.assertInstalled(install)
        entry = self.wine.registry(UNINSTALL_KEY)
        self.assertEqual(entry, self.entry(install))
        self.assertShortcut(self.wine.start_menu_shortcut, install)
        # As if the desktop box had been ticked, and the program had been used.
        desktop = self.wine.unix(self.wine.desktop_shortcut)
        shutil.copyfile(self.wine.unix(self.wine.start_menu_shortcut), desktop)
        data = self.wine.unix(self.wine.local_app_data + r"\Vardeko")
        (data / "WebView2").mkdir(parents=True)
        (data / SESSION_FILE).write_bytes(b"\x01protected token\x00")
        user_data = tree(data)

        # What Apps & features runs for a quiet uninstall.
        self.assertEqual(self.wine.run(entry["QuietUninstallString"]), 0)
        self.wine.wait_for_uninstaller()

        self.assertFalse(self.wine.unix(install).exists())
        self.assertFalse(self.wine.unix(self.wine.start_menu_shortcut).exists())
        self.assertFalse(desktop.exists())
        self.assertIsNone(self.wine.registry(UNINSTALL_KEY))
        self.assertEqual(tree(data), user_data)

    def test_wizard_installs_with_a_desktop_shortcut_and_uninstalls_with_the_user_data(self):
        install = self.wine.default_install
        wizard = self.wine.start(SETUP)
        self.assertIsNotNone(self.wine.window(SETUP_CAPTION, WELCOME))
        self.wine.press(SETUP_CAPTION, IDOK)
        directory_page = self.wine.window(SETUP_CAPTION, install)
        self.assertIn(f"Edit|{install}", directory_page)
        self.wine.press(SETUP_CAPTION, IDOK)
        finish_page = self.wine.window(SETUP_CAPTION, FINISHED)
        self.assertIsNotNone(finish_page, "no finish page")
        self.wine.tick(SETUP_CAPTION, DESKTOP_BOX)
        self.wine.press(SETUP_CAPTION, IDOK)
        self.assertEqual(wizard.wait(60), 0)

        self.assertInstalled(install)
        self.assertShortcut(self.wine.desktop_shortcut, install)
        self.assertShortcut(self.wine.start_menu_shortcut, install)
        self.assertEqual(self.wine.registry(UNINSTALL_KEY), self.entry(install))

        data = self.wine.unix(self.wine.local_app_data + r"\Vardeko")
        data.mkdir()
        (data / SESSION_FILE).write_bytes(b"\x01protected token\x00")
        self.assertEqual(self.wine.start(self.wine.unix(install) / "uninstall.exe").wait(60), 0)
        page = self.wine.window(UNINSTALL_CAPTION, UNINSTALL_PAGE)
        self.assertIsNotNone(page, "no uninstall page")
        self.assertIn(f"Button|{REMOVE_DATA_BOX}", page)
        self.wine.tick(UNINSTALL_CAPTION, REMOVE_DATA_BOX)
        self.wine.press(UNINSTALL_CAPTION, IDOK)
        self.wine.wait_for_uninstaller()

        self.assertFalse(self.wine.unix(install).exists())
        self.assertFalse(self.wine.unix(self.wine.desktop_shortcut).exists())
        self.assertFalse(self.wine.unix(self.wine.start_menu_shortcut).exists())
        self.assertIsNone(self.wine.registry(UNINSTALL_KEY))
        self.assertFalse(data.exists())

    def test_first_page_tells_where_to_get_the_browser_runtime_when_it_is_missing(self):
        def first_page():
            wizard = self.wine.start(SETUP)
            page = self.wine.window(SETUP_CAPTION, WELCOME)
            self.assertIsNotNone(page, "no first page")
            return wizard, "\n".join(page)

        def cancel(wizard):
            self.wine.press(SETUP_CAPTION, IDCANCEL, WELCOME)
            self.assertIsNotNone(self.wine.window(SETUP_CAPTION, "确定要退出"))
            self.wine.press(SETUP_CAPTION, IDYES, "确定要退出")
            self.assertEqual(wizard.wait(60), EXIT_CANCELLED)

        wizard, text = first_page()
        self.assertIn(RUNTIME_NOTICE, text)
        self.assertIn("https://developer.microsoft.com/zh-cn/microsoft-edge/webview2/", text)
        time.sleep(1)  # let the page finish drawing
        screenshot = WORK / "setup-first-page.png"
        subprocess.run(["import", "-window", "root", screenshot], env=self.wine.env, check=True)
        print(f"\nfirst page: {screenshot}")
        cancel(wizard)

        machine = r"HKLM\SOFTWARE\WOW6432Node" + "\\" + RUNTIME_CLIENT
        user = r"HKCU\Software" + "\\" + RUNTIME_CLIENT
        for key, version, registered in [(user, "0.0.0.0", False), (user, "131.0.2903.112", True),
                                         (machine, "131.0.2903.112", True)]:
            with self.subTest(key=key, version=version):
                self.wine.wine("reg", "delete", user, "/f")
                self.assertEqual(self.wine.wine("reg", "add", key, "/v", "pv", "/d", version, "/f")
                                 .returncode, 0)
                wizard, text = first_page()
                self.assertEqual(RUNTIME_NOTICE not in text, registered, text)
                cancel(wizard)
                self.wine.wine("reg", "delete", key, "/f")


if __name__ == "__main__":
    unittest.main()
