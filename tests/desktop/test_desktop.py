"""The Linux desktop program under X, end to end, with real pointer and keyboard input.

Runs the built program (build/linux-release/vardeko-desktop, or VARDEKO_DESKTOP_DIR) on
WebKitGTK under the display in DISPLAY, with openbox as the window manager, against the
demo service. Run inside xvfb-run (a screen larger than the first window, 1600 x 1000) and
dbus-run-session, as tools/test does.

The engine needs three switches on this bench, set here and nowhere in the program: no
sandbox (bubblewrap cannot make namespaces for root inside a container), software GL and
no compositing mode (Xvfb has no GPU)."""

import json
import os
import queue
import threading
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
import urllib.request
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PROGRAM_DIR = Path(os.environ.get("VARDEKO_DESKTOP_DIR", ROOT / "build" / "linux-release" / "vardeko-desktop"))
PROBE = Path(__file__).with_name("probe")
UNSAVED = Path(__file__).with_name("unsaved")
LEDGER = Path(__file__).with_name("ledger")
SESSION_END_REASON = "有未保存的内容，请在 Vardeko 中确认后再关机。"
INHIBIT_LOGOUT = 1
TITLE = "Vardeko · Bokvara"
ENGINE_ENV = {
    "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS": "1",
    "LIBGL_ALWAYS_SOFTWARE": "1",
    "WEBKIT_DISABLE_COMPOSITING_MODE": "1",
    "NO_AT_BRIDGE": "1",
}
WAIT = 30.0

window_manager = None


def setUpModule():
    start_window_manager()


def start_window_manager():
    global window_manager
    if window_manager is not None:
        return
    if not os.environ.get("DISPLAY"):
        raise RuntimeError("no X display: run inside xvfb-run")
    if not (PROGRAM_DIR / "vardeko").is_file():
        raise RuntimeError(f"{PROGRAM_DIR}/vardeko missing: run tools/build first")
    window_manager = subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # openbox manages windows mapped after it has taken the screen; it has no ready signal.
    time.sleep(0.5)
    if window_manager.poll() is not None:
        raise RuntimeError("openbox did not start")


def tearDownModule():
    global window_manager
    if window_manager is not None:
        window_manager.terminate()
        window_manager.wait()
        window_manager = None


def wait_for(condition, timeout=WAIT, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


def xdotool(*args, check=True):
    result = subprocess.run(["xdotool", *args], capture_output=True, text=True)
    if result.returncode != 0:
        if check:
            raise AssertionError(f"xdotool {' '.join(args)}: {result.stderr.strip()}")
        return None
    return result.stdout.strip()


def geometry(window):
    values = dict(line.split("=", 1) for line in xdotool("getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def screen_size():
    width, height = xdotool("getdisplaygeometry").split()
    return int(width), int(height)


def main_windows(visible=True):
    found = xdotool("search", *(["--onlyvisible"] if visible else []), "--name", f"^{TITLE}$", check=False)
    return found.split() if found else []


class DemoService:
    def __init__(self):
        self.process = subprocess.Popen(
            ["python3", str(ROOT / "tools" / "demo-service" / "server.py"), "--port", "0"],
            stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline().split()
        self.base = f"http://127.0.0.1:{line[1]}"

    def requests(self):
        with urllib.request.urlopen(self.base + "/__requests") as reply:
            return json.load(reply)

    def stop(self):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()


class SessionManager:
    """session_manager.py on the test's session bus; its lines arrive in `lines`."""

    def __init__(self, test):
        self.process = subprocess.Popen(["/usr/bin/python3", str(Path(__file__).with_name("session_manager.py"))],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        test.addCleanup(self.stop)
        self.expect("ready")

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def expect(self, wanted):
        """The lines up to and including `wanted`."""
        seen = []
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            try:
                seen.append(self.lines.get(timeout=0.2))
            except queue.Empty:
                continue
            if seen[-1] == wanted:
                return seen
        raise AssertionError(f"no {wanted!r} from the session manager, only {seen}")

    def query_end(self):
        self.process.stdin.write("query-end\n")
        self.process.stdin.flush()

    def stop(self):
        self.process.stdin.close()
        self.process.wait()
        self.process.stdout.close()


class Program:
    """One run of the program with its own data directory and home."""

    def __init__(self, test, program_dir, data_dir, api_url=None):
        env = dict(os.environ, **ENGINE_ENV, VARDEKO_DATA_DIR=str(data_dir), HOME=str(data_dir.parent / "home"))
        env.pop("VARDEKO_DEV_URL", None)
        if api_url:
            env["VARDEKO_API_URL"] = api_url
        Path(env["HOME"]).mkdir(exist_ok=True)
        self.home = Path(env["HOME"])
        self.started = time.monotonic()
        self.process = subprocess.Popen([str(program_dir / "vardeko")], env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        test.addCleanup(self.kill)

    def window(self):
        return wait_for(lambda: main_windows() and main_windows()[0], what="the main window")

    def wait(self, timeout=WAIT):
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program did not end")
        return self.process.returncode, self.process.stderr.read()

    def kill(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


def close_by_window_manager(window):
    xdotool("windowactivate", "--sync", window)
    xdotool("key", "--clearmodifiers", "alt+F4")


class DesktopTest(unittest.TestCase):
    def setUp(self):
        self.work = Path(tempfile.mkdtemp(prefix="vardeko-desktop-"))
        self.addCleanup(shutil.rmtree, self.work, True)
        self.data = self.work / "data"

    def demo(self):
        service = DemoService()
        self.addCleanup(service.stop)
        return service

    def start_page(self, service):
        program = Program(self, PROGRAM_DIR, self.data, service.base + "/api")
        window = program.window()
        wait_for(lambda: any(r["path"].endswith("/health") for r in service.requests()),
                 what="the page's first service call")
        return program, window

    def test_the_engine_enforces_the_start_document_policy_and_the_guards_refuse(self):
        # The probe page as the renderer folder of a copy of the program.
        shutil.copy2(PROGRAM_DIR / "vardeko", self.work / "vardeko")
        shutil.copytree(PROBE, self.work / "renderer")
        program = Program(self, self.work, self.data)
        window = program.window()
        width, height = screen_size()
        self.assertLess(geometry(window)[2], width)
        wait_for(lambda: geometry(window)[2] == width, what="the probe's report (maximised)")
        # Navigation away refused: the same document restores the window.
        wait_for(lambda: geometry(window)[2] < width, what="the probe still there (restored)")
        self.assertEqual(len(main_windows(visible=False)), 1)
        xdotool_windows = xdotool("search", "--onlyvisible", "--pid", str(program.process.pid), check=False)
        self.assertEqual(len(xdotool_windows.split()) if xdotool_windows else 0, 1)
        self.assertEqual([p.name for p in program.home.rglob("payload*")], [])

    def test_sign_in_through_the_channel_and_close_without_unsaved_input(self):
        service = self.demo()
        program, window = self.start_page(service)
        xdotool("windowactivate", "--sync", window)
        xdotool("type", "--delay", "15", "demo@vardeko.local")
        xdotool("key", "Tab")
        xdotool("type", "--delay", "15", "vardeko-demo")
        xdotool("key", "Return")
        seen = []

        def signed_in():
            seen.extend(service.requests())
            logins = [r for r in seen if r["path"].endswith("/auth/login")]
            me = [r for r in seen if r["path"].endswith("/me")
                  and any(name.lower() == "authorization" for name, _ in r["headers"])]
            return logins and me

        wait_for(signed_in, what="sign-in and the signed-in user's request")
        login = next(r for r in seen if r["path"].endswith("/auth/login"))
        self.assertEqual(login["json"], {"email": "demo@vardeko.local", "password": "vardeko-demo"})
        close_by_window_manager(window)
        code, errors = program.wait()
        self.assertEqual((code, errors), (0, ""))

    def test_a_ledger_entry_is_booked_through_the_channel(self):
        service = self.demo()
        shutil.copy2(PROGRAM_DIR / "vardeko", self.work / "vardeko")
        shutil.copytree(LEDGER, self.work / "renderer")
        program = Program(self, self.work, self.data, service.base + "/api")
        window = program.window()
        width, _ = screen_size()
        wait_for(lambda: geometry(window)[2] == width, what="every reply (maximised)")
        entries = [r for r in service.requests() if r["method"] == "POST" and r["path"].endswith("/entries")]
        self.assertEqual(len(entries), 1)
        self.assertEqual(entries[0]["json"]["idempotency_key"], "3f2b8c1e-5d4a-4e7b-9c0d-1a2b3c4d5e6f")
        self.assertEqual(entries[0]["json"]["note"], "桌面程序记账")
        self.assertTrue(any(name.lower() == "authorization" for name, _ in entries[0]["headers"]))
        close_by_window_manager(window)
        self.assertEqual(program.wait(), (0, ""))

    def test_a_web_process_that_ends_brings_the_page_back(self):
        service = self.demo()
        program, window = self.start_page(service)
        service.requests()
        children = subprocess.run(["pgrep", "-P", str(program.process.pid), "-f", "WebKitWebProcess"],
                                  capture_output=True, text=True).stdout.split()
        self.assertEqual(len(children), 1)
        os.kill(int(children[0]), signal.SIGKILL)
        wait_for(lambda: any(r["path"].endswith("/health") for r in service.requests()),
                 what="the page loaded again")
        self.assertEqual(main_windows(), [window])
        close_by_window_manager(window)
        self.assertEqual(program.wait(), (0, ""))

    def test_unsaved_input_is_asked_about_before_closing(self):
        service = self.demo()
        program, window = self.start_page(service)
        xdotool("windowactivate", "--sync", window)
        xdotool("type", "--delay", "15", "unsaved@vardeko.local")
        close_by_window_manager(window)
        # The page holds the close for its question: the window stays.
        time.sleep(2)
        self.assertIsNone(program.process.poll())
        self.assertEqual(main_windows(), [window])

    def test_the_end_of_the_session_is_held_and_asked_about_only_with_unsaved_input(self):
        manager = SessionManager(self)
        service = self.demo()
        program, window = self.start_page(service)
        manager.query_end()
        self.assertEqual(manager.expect("response True"), ["response True"])
        close_by_window_manager(window)
        self.assertEqual(program.wait()[0], 0)

        shutil.copy2(PROGRAM_DIR / "vardeko", self.work / "vardeko")
        shutil.copytree(UNSAVED, self.work / "renderer")
        held = Program(self, self.work, self.data)
        window = held.window()
        manager.expect(f"inhibit {INHIBIT_LOGOUT} {SESSION_END_REASON}")
        width, _ = screen_size()
        self.assertLess(geometry(window)[2], width)
        manager.query_end()
        manager.expect("response True")
        wait_for(lambda: geometry(window)[2] == width, what="the page asked (maximised)")

    def test_a_second_start_raises_the_first_and_ends(self):
        service = self.demo()
        first, window = self.start_page(service)
        xdotool("windowminimize", "--sync", window)
        wait_for(lambda: main_windows() == [], what="the window minimised")
        second = Program(self, PROGRAM_DIR, self.data, service.base + "/api")
        code, errors = second.wait()
        self.assertEqual((code, errors), (0, ""))
        wait_for(lambda: main_windows() == [window], what="the first window shown again")
        self.assertIsNone(first.process.poll())

    def test_resize_by_an_edge_drag_by_the_title_bar_and_the_place_remembered(self):
        service = self.demo()
        program, window = self.start_page(service)
        x, y, width, height = geometry(window)
        # The right resize band, 7 pixels wide.
        xdotool("mousemove", "--sync", str(x + width - 3), str(y + height // 2))
        xdotool("mousedown", "1")
        # The window manager's resize starts once the press has
        # come through, so the pointer goes on until the window follows.
        for step in range(1, 41):
            xdotool("mousemove", "--sync", str(x + width - 3 - 5 * step), str(y + height // 2))
            if geometry(window)[2] < width:
                break
            time.sleep(0.02)
        xdotool("mousemove", "--sync", str(x + width - 103), str(y + height // 2))
        xdotool("mouseup", "1")
        wait_for(lambda: geometry(window)[2] <= width - 90, what="the window narrower")
        resized = geometry(window)
        # The page's title bar, away from its buttons.
        xdotool("mousemove", "--sync", str(x + 300), str(y + 25))
        xdotool("mousedown", "1")
        # The page asks for the move as the button goes down; the window manager's drag
        # starts once that request has come through, so the pointer goes on moving, in
        # small steps, until the window follows (a busy machine takes a while).
        for step in range(1, 61):
            xdotool("mousemove", "--sync", str(x + 300 + 4 * step), str(y + 25 + 3 * step))
            if geometry(window)[:2] != resized[:2]:
                break
            time.sleep(0.02)
        xdotool("mouseup", "1")
        wait_for(lambda: geometry(window)[:2] != resized[:2], what="the window moved")
        moved = geometry(window)
        self.assertEqual(moved[2:], resized[2:])
        close_by_window_manager(window)
        self.assertEqual(program.wait()[0], 0)
        again = Program(self, PROGRAM_DIR, self.data, service.base + "/api")
        self.assertEqual(geometry(again.window())[2:], moved[2:])


if __name__ == "__main__":
    unittest.main()
