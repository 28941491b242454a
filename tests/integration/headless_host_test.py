#!/usr/bin/env python3
"""vardeko-bridge end to end against the scripted loopback test service.

VARDEKO_BRIDGE names the program (with a launcher in front, e.g. "wine", when set in
VARDEKO_BRIDGE_LAUNCHER); the service is started by the tests themselves.
"""
import base64
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
A = "0123abcd-89AB-cdef-0123-456789abcdef"
B = "fedcba98-7654-3210-FEDC-ba9876543210"


class Service:
    def __init__(self):
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "test_server.py"), "--lifetime", "600"],
            stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline().split()[1])

    def url(self, path=""):
        return f"http://127.0.0.1:{self.port}{path}"

    def control(self, path, payload=None):
        data = None if payload is None else json.dumps(payload).encode()
        request = urllib.request.Request(self.url(path), data=data, method="POST" if data is not None or path == "/__reset" else "GET")
        with urllib.request.urlopen(request) as reply:
            body = reply.read()
            return json.loads(body) if body else None

    def script(self, *routes):
        self.control("/__script", {"routes": list(routes)})

    def requests(self):
        return self.control("/__requests")

    def stop(self):
        self.process.terminate()
        self.process.wait()


def post(id_, method, *args, source=None):
    line = {"post": json.dumps({"id": id_, "method": method, "args": list(args)}, ensure_ascii=False)}
    if source is not None:
        line["source"] = source
    return line


WAIT = {"wait": True}
BOSS = {"display_name": "老板", "game_id": "g", "game_name": "n", "notes": ""}


def json_depth_bound():
    """The nesting bound, as the program names it."""
    with open(os.path.join(HERE, "..", "..", "src", "base", "bounded_json.h")) as header:
        return int(re.search(r"kMaxJsonDepth = (\d+);", header.read()).group(1))


def nested(depth):
    """Arrays nested `depth` deep, as JSON text (too deep for json.dumps)."""
    return "[" * depth + "]" * depth


def post_text(id_, method, member=None, record_member=None, *args):
    """A post line whose message text carries raw JSON: `member` as a member "x" of the
    message, `record_member` as a member "extra" of a boss record given as the argument."""
    message = {"id": id_, "method": method, "args": list(args)}
    if record_member is not None:
        message["args"] = [dict(BOSS, extra="@EXTRA@")]
    if member is not None:
        message["x"] = "@X@"
    text = json.dumps(message, ensure_ascii=False, separators=(",", ":"))
    text = text.replace('"@EXTRA@"', record_member or "").replace('"@X@"', member or "")
    return {"post": text}


class BridgeHostTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.service = Service()

    @classmethod
    def tearDownClass(cls):
        cls.service.stop()

    def setUp(self):
        self.service.control("/__reset", {})
        self.data = tempfile.TemporaryDirectory()
        self.env = dict(os.environ,
                        VARDEKO_DATA_DIR=os.path.join(self.data.name, "data"),
                        XDG_DATA_HOME=os.path.join(self.data.name, "xdg"),
                        VARDEKO_API_URL=self.service.url("/api"))
        self.env.pop("VARDEKO_DEV_URL", None)
        self.env.pop("VARDEKO_DEBUG_PORT", None)

    def tearDown(self):
        self.data.cleanup()

    def run_bridge(self, lines, env=None, timeout=60):
        command = shlex.split(os.environ.get("VARDEKO_BRIDGE_LAUNCHER", "")) + [os.environ["VARDEKO_BRIDGE"]]
        text = "".join(json.dumps(line, ensure_ascii=False) + "\n" for line in lines)
        started = time.monotonic()
        done = subprocess.run(command, input=text.encode(), capture_output=True,
                              env=env or self.env, timeout=timeout)
        self.elapsed = time.monotonic() - started
        # Only our own lines: Wine may add its own.
        self.stderr = "".join(line + "\n" for line in done.stderr.decode().splitlines()
                              if line.startswith("vardeko-bridge:"))
        self.exit_code = done.returncode
        return [json.loads(line) for line in done.stdout.decode().splitlines() if line.strip()]

    def replies(self, output):
        return {line["page"]["id"]: line["page"] for line in output if "page" in line and "id" in line["page"]}

    def log_in(self):
        self.service.script({"method": "POST", "path": "/api/auth/login", "status": 200,
                             "body": json.dumps({"token": "tok-1", "user": {"id": 1}})})
        return post("login", "login", {"email": "a@b.c", "password": "p"})

    def test_every_method_reaches_its_endpoint(self):
        order = {"title": "t", "note": "", "kind": "hourly", "target_quantity": 1,
                 "failure_default_quantity": 0, "foo": "kept"}
        template = dict(order, name="模板")
        match = {"player_name": "p", "note": "", "outcome": "success", "confirmed": True,
                 "amount": None, "played_at": None}
        entry = {"kind": "progress", "quantity": -5, "note": "", "occurred_at": None, "idempotency_key": B}
        boss = {"display_name": "老板", "game_id": "g", "game_name": "n", "notes": ""}
        settings = {"boss_id": "", "boss_player_name": "x"}
        shot = {"name": "截图 1.png", "content_type": "image/png", "data_base64": "QUJD", "order_id": A}
        calls = [
            ("login", [{"email": "a@b.c", "password": "p"}], "POST", "/api/auth/login",
             {"email": "a@b.c", "password": "p"}),
            ("health", [], "GET", "/api/health", None),
            ("register", [{"email": "a@b.c", "password": "p"}], "POST", "/api/auth/register",
             {"email": "a@b.c", "password": "p"}),
            ("me", [], "GET", "/api/me", None),
            ("uploadMatch", [shot], "POST", "/api/matches", b"ABC"),
            ("listMatches", [2, 50, None, False], "GET", "/api/matches?page=2&page_size=50&confirmed=false", None),
            ("matchStats", [A], "GET", f"/api/matches/stats?order_id={A}", None),
            ("matchSettings", [], "GET", "/api/matches/settings", None),
            ("updateMatchSettings", [settings], "PATCH", "/api/matches/settings", settings),
            ("getMatch", [A], "GET", f"/api/matches/{A}", None),
            ("deleteMatch", [A], "DELETE", f"/api/matches/{A}", None),
            ("recognizeMatch", [A], "POST", f"/api/matches/{A}/recognize", None),
            ("matchImage", [A], "GET", f"/api/matches/{A}/image", None),
            ("updateMatch", [A, match], "PATCH", f"/api/matches/{A}", match),
            ("listBosses", ["老 板"], "GET", "/api/bosses?q=%E8%80%81%20%E6%9D%BF", None),
            ("getBoss", [A], "GET", f"/api/bosses/{A}", None),
            ("createBoss", [boss], "POST", "/api/bosses", boss),
            ("updateBoss", [A, boss], "PATCH", f"/api/bosses/{A}", boss),
            ("listOrders", [A], "GET", f"/api/orders?boss_id={A}", None),
            ("getOrder", [A], "GET", f"/api/orders/{A}", None),
            ("createOrder", [A, order], "POST", f"/api/bosses/{A}/orders", order),
            ("updateOrder", [A, order], "PATCH", f"/api/orders/{A}", order),
            ("listOrderTemplates", [], "GET", "/api/order-templates", None),
            ("createOrderTemplate", [template], "POST", "/api/order-templates", template),
            ("updateOrderTemplate", [A, template], "PATCH", f"/api/order-templates/{A}", template),
            ("deleteOrderTemplate", [A], "DELETE", f"/api/order-templates/{A}", None),
            ("listCatalog", [], "GET", "/api/catalog/items?q=&category=&page=1&page_size=40", None),
            ("listLedgerEntries", [A], "GET", f"/api/orders/{A}/entries?page=1&page_size=20", None),
            ("addLedgerEntry", [A, entry], "POST", f"/api/orders/{A}/entries", entry),
            ("deleteLedgerEntry", [A, B], "DELETE", f"/api/orders/{A}/entries/{B}", None),
            ("logout", [], "POST", "/api/auth/logout", None),
        ]
        routes = []
        for name, _, verb, path, _ in calls:
            body = {"method": name}
            if name in ("login", "register"):
                body = {"token": "tok-1", "user": {"method": name}}
            route = {"method": verb, "path": path, "status": 200,
                     "headers": {"Content-Type": "application/json"}, "body": json.dumps(body)}
            if name == "matchImage":
                route.update(headers={"Content-Type": "image/webp"}, body="PNGDATA")
            if name == "logout":
                route.update(status=204, body="")
            routes.append(route)
        self.service.script(*routes)
        lines = []
        for name, args, *_ in calls:
            lines += [post(name, name, *args), WAIT]
        replies = self.replies(self.run_bridge(lines))
        recorded = self.service.requests()
        self.assertEqual(len(recorded), len(calls))
        self.assertEqual(len({name for name, *_ in calls}), 31)
        unauthenticated = {"login", "health", "register"}
        for (name, args, verb, path, body), seen in zip(calls, recorded):
            with self.subTest(method=name):
                self.assertEqual((seen["method"], seen["path"]), (verb, path))
                headers = dict(seen["headers"])
                self.assertEqual(headers.get("Accept"), "application/json")
                if name in unauthenticated:
                    self.assertNotIn("Authorization", headers)
                else:
                    self.assertEqual(headers.get("Authorization"), "Bearer tok-1")
                sent = base64.b64decode(seen["body_base64"])
                if isinstance(body, bytes):
                    self.assertEqual(sent, body)
                elif body is not None:
                    self.assertEqual(json.loads(sent), body)
                    self.assertEqual(headers.get("Content-Type"), "application/json")
                else:
                    self.assertEqual(sent, b"")
                reply = replies[name]
                self.assertTrue(reply["ok"], reply)
                if name in ("login", "register"):
                    self.assertEqual(reply["data"], {"method": name})  # the token stays native
                elif name == "matchImage":
                    self.assertEqual(reply["data"], {"content_type": "image/webp",
                                                     "data_base64": base64.b64encode(b"PNGDATA").decode()})
                elif name == "logout":
                    self.assertIsNone(reply["data"])
                else:
                    self.assertEqual(reply["data"], {"method": name})
        upload = dict(recorded[4]["headers"])
        self.assertEqual(upload["Content-Type"], "image/png")
        self.assertEqual(upload["X-File-Name"], "%E6%88%AA%E5%9B%BE%201.png")
        self.assertEqual(upload["X-Order-Id"], A)

    def test_failed_checks_send_nothing(self):
        output = self.run_bridge([
            post("1", "health", 1), post("2", "getBoss", "x"), post("3", "listBosses", "q" * 201),
            post("4", "createOrder", A, {"title": "t"}), post("5", "Health"), WAIT,
            {"post": json.dumps({"id": "6", "method": "health", "args": {}})}, WAIT])
        replies = self.replies(output)
        self.assertEqual(replies["1"]["error"], {"code": "INVALID_INPUT", "message": "输入参数不正确。"})
        self.assertEqual(replies["2"]["error"], {"code": "INVALID_INPUT", "message": "记录编号不正确。"})
        self.assertEqual(replies["3"]["error"], {"code": "INVALID_INPUT", "message": "填写内容超过长度限制。"})
        self.assertEqual(replies["4"]["error"]["code"], "INVALID_INPUT")
        self.assertEqual(replies["5"]["error"], {"code": "INVALID_METHOD", "message": "不支持此操作。"})
        self.assertNotIn("6", replies)  # args as an object: ignored by the dispatcher
        self.assertEqual(self.service.requests(), [])

    def test_query_edge_cases(self):
        output = self.run_bridge([self.log_in(), WAIT, post("m", "listMatches"), WAIT,
                                  post("b", "listBosses"), WAIT,
                                  post("e", "listMatches", None, None, "", None), WAIT])
        paths = [seen["path"] for seen in self.service.requests()][1:]
        self.assertEqual(paths, ["/api/matches?page=1&page_size=20", "/api/bosses?q=",
                                 "/api/matches?page=1&page_size=20"])
        self.assertEqual(len(self.replies(output)), 4)

    def test_login_token_rules_and_result(self):
        credentials = {"email": "a@b.c", "password": "p"}
        for token, accepted in (("with space", False), ("t" * 16385, False), ("~" * 16384, True)):
            with self.subTest(length=len(token)):
                self.service.script({"method": "POST", "path": "/api/auth/login", "status": 200,
                                     "body": json.dumps({"token": token, "user": {"id": 2}})})
                reply = self.replies(self.run_bridge([post("l", "login", credentials), WAIT]))["l"]
                if accepted:
                    self.assertEqual(reply, {"data": {"id": 2}, "id": "l", "ok": True})
                else:
                    self.assertEqual(reply["error"], {"code": "INVALID_RESPONSE", "message": "登录结果格式不正确。"})

    def test_logout_without_token_sends_nothing(self):
        reply = self.replies(self.run_bridge([post("o", "logout"), WAIT]))["o"]
        self.assertEqual(reply, {"data": None, "id": "o", "ok": True})
        self.assertEqual(self.service.requests(), [])

    def test_match_image_media_types_and_no_content(self):
        def image(content_type):
            headers = {} if content_type is None else {"Content-Type": content_type}
            self.service.script({"method": "GET", "path": f"/api/matches/{A}/image", "status": 200,
                                 "headers": headers, "body": "IMG"})
            return self.replies(self.run_bridge([self.log_in(), WAIT, post("i", "matchImage", A), WAIT]))["i"]
        self.assertEqual(image(None)["data"]["content_type"], "image/png")
        self.assertEqual(image("image/png; charset=x")["error"]["code"], "INVALID_IMAGE")
        self.assertEqual(image("Image/PNG")["error"]["message"], "服务返回的截图格式不正确。")
        self.service.script({"method": "DELETE", "path": f"/api/matches/{A}", "status": 204})
        reply = self.replies(self.run_bridge([self.log_in(), WAIT, post("d", "deleteMatch", A), WAIT]))["d"]
        self.assertEqual(reply, {"data": None, "id": "d", "ok": True})

    def test_session_survives_a_restart_and_a_401_clears_it(self):
        self.run_bridge([self.log_in(), WAIT])
        output = self.run_bridge([post("a", "appInfo"), post("me", "me"), WAIT])
        replies = self.replies(output)
        self.assertTrue(replies["a"]["data"]["persistentSession"])
        self.assertEqual(replies["a"]["data"]["apiUrl"], self.service.url("/api"))
        me = self.service.requests()[-1]
        self.assertEqual(dict(me["headers"])["Authorization"], "Bearer tok-1")
        self.service.script({"method": "GET", "path": "/api/me", "status": 401,
                             "body": '{"error":{"code":"TOKEN_EXPIRED","message":"登录已过期"}}'})
        replies = self.replies(self.run_bridge([post("x", "me"), WAIT, post("y", "me"), WAIT]))
        self.assertEqual(replies["x"]["error"], {"code": "TOKEN_EXPIRED", "message": "登录已过期"})
        self.assertEqual(replies["y"]["error"]["code"], "UNAUTHORIZED")

    def test_twelve_slow_requests_then_busy(self):
        self.service.script({"method": "GET", "path": "/api/health", "status": 200, "body": "{}",
                             "delay_ms": 1000})
        lines = [post(f"r{i}", "health") for i in range(13)] + [post("info", "appInfo"), WAIT,
                                                                  post("after", "health"), WAIT]
        output = self.run_bridge(lines)
        replies = self.replies(output)
        self.assertEqual(replies["r12"]["error"], {"code": "BUSY", "message": "操作较多，请稍后重试。"})
        self.assertTrue(all(replies[f"r{i}"]["ok"] for i in range(12)))
        self.assertTrue(replies["info"]["ok"] and replies["after"]["ok"])
        # BUSY and appInfo come at once, before any of the slow replies.
        order = [line["page"]["id"] for line in output if "page" in line]
        self.assertLess(order.index("r12"), order.index("r0"))
        self.assertLess(order.index("info"), order.index("r0"))
        # Twelve at once take about one delay, then one more for "after".
        self.assertLess(self.elapsed, 2.0 * 1.2 + 1.0)

    def test_window_actions_and_close(self):
        self.env["VARDEKO_DEBUG_PORT"] = "9222"
        output = self.run_bridge([
            post("1", "windowControl", "minimize"), post("2", "windowControl", "maximize"),
            post("3", "windowControl", "maximize"), post("4", "windowDrag"),
            post("5", "test:window-size", 960, 640), post("6", "test:request-close"),
            {"close": True}, post("7", "windowControl", "close"), post("8", "appInfo")])
        windows = [line["window"] for line in output if "window" in line]
        self.assertEqual(windows, ["minimize", "maximize", "restore", "drag", "resize", "request-close", "close"])
        resize = next(line for line in output if line.get("window") == "resize")
        self.assertEqual((resize["width"], resize["height"]), (960, 640))
        events = [line["page"] for line in output if "page" in line and "event" in line["page"]]
        self.assertEqual(events, [{"event": "close-requested"}] * 2)
        self.assertNotIn("8", self.replies(output))  # the window closed at once
        self.assertEqual(self.exit_code, 0)

    def test_source_must_be_the_start_page_and_bad_lines_are_skipped(self):
        output = self.run_bridge([post("a", "appInfo", source="https://app.vardeko.localhost/index.html?x"),
                                  "not json", {"other": 1}, post("b", "appInfo")])
        self.assertEqual(list(self.replies(output)), ["b"])
        self.assertEqual(self.stderr.count("\n"), 2)

    def test_nesting_at_the_bound_passes_and_one_level_more_is_refused(self):
        depth = json_depth_bound()
        error = '{"error":{"code":"LOCKED","message":"已锁定"},"x":'
        self.service.script(
            {"method": "POST", "path": "/api/bosses", "status": 201, "body": "{}"},
            {"method": "GET", "path": "/api/health", "status": 200, "body": nested(depth)},
            {"method": "GET", "path": "/api/me", "status": 200, "body": nested(depth + 1)},
            {"method": "GET", "path": "/api/order-templates", "status": 409,
             "body": error + nested(depth - 1) + "}"},
            {"method": "GET", "path": "/api/bosses?q=", "status": 409,
             "body": error + nested(depth) + "}"})
        output = self.run_bridge([
            self.log_in(), WAIT,
            # A page message: the message object is one level, its member the rest.
            post_text("message-at", "appInfo", member=nested(depth - 1)),
            post_text("message-past", "appInfo", member=nested(depth)),
            # A page record: message, args and record are three levels.
            post_text("record-at", "createBoss", record_member=nested(depth - 3)), WAIT,
            post_text("record-past", "createBoss", record_member=nested(depth - 2)), WAIT,
            post("reply-at", "health"), WAIT, post("reply-past", "me"), WAIT,
            post("error-at", "listOrderTemplates"), WAIT, post("error-past", "listBosses"), WAIT])
        replies = self.replies(output)
        self.assertTrue(replies["message-at"]["ok"])
        self.assertNotIn("message-past", replies)
        self.assertEqual(replies["record-at"], {"data": {}, "id": "record-at", "ok": True})
        self.assertNotIn("record-past", replies)
        sent = [seen for seen in self.service.requests() if seen["path"] == "/api/bosses"]
        self.assertEqual(len(sent), 1)
        # Sent as given, members in byte order, the deep member included.
        expected = json.dumps(dict(BOSS, extra="@EXTRA@"), ensure_ascii=False, sort_keys=True,
                              separators=(",", ":")).replace('"@EXTRA@"', nested(depth - 3))
        self.assertEqual(base64.b64decode(sent[0]["body_base64"]).decode(), expected)
        self.assertEqual(json.dumps(replies["reply-at"]["data"], separators=(",", ":")), nested(depth))
        self.assertEqual(replies["reply-past"]["error"],
                         {"code": "INVALID_RESPONSE", "message": "服务返回的数据格式不正确。"})
        self.assertEqual(replies["error-at"]["error"], {"code": "LOCKED", "message": "已锁定"})
        self.assertEqual(replies["error-past"]["error"],
                         {"code": "API_ERROR", "message": "服务请求失败，请稍后重试。"})

    def test_crash_inputs_end_in_their_documented_failures(self):
        # A record member nested 100000 deep, and a reply of 200000 nested arrays, once
        # overflowed a worker's stack.
        self.service.script({"method": "GET", "path": "/api/health", "status": 200,
                             "body": nested(200000)})
        output = self.run_bridge([
            post_text("deep-record", "createBoss", record_member=nested(100000)), WAIT,
            post("deep-reply", "health"), WAIT, post("alive", "appInfo")])
        replies = self.replies(output)
        self.assertNotIn("deep-record", replies)  # as a message that does not parse
        self.assertEqual(replies["deep-reply"]["error"],
                         {"code": "INVALID_RESPONSE", "message": "服务返回的数据格式不正确。"})
        self.assertTrue(replies["alive"]["ok"])
        self.assertEqual(self.exit_code, 0)
        self.assertEqual([seen["path"] for seen in self.service.requests()], ["/api/health"])

    def test_reply_headers_and_empty_header_values_as_both_engines_handle_them(self):
        image = f"/api/matches/{A}/image"
        self.service.script(
            {"method": "GET", "path": image, "status": 200, "body": "IMG",
             "header_lines": [["Content-Type", "image/webp"], ["Content-Type", "image/png"]]},
            {"method": "POST", "path": "/api/matches", "status": 200, "body": "{}"},
            {"method": "GET", "path": "/api/health", "status": 101,
             "header_lines": [["Upgrade", "other"], ["Connection", "Upgrade"]], "hold_ms": 20000})
        shot = {"name": "", "content_type": "image/png", "data_base64": "QUJD"}
        output = self.run_bridge([self.log_in(), WAIT, post("first", "matchImage", A), WAIT,
                                  post("empty", "uploadMatch", shot), WAIT])
        replies = self.replies(output)
        self.assertEqual(replies["first"]["data"]["content_type"], "image/webp")
        self.assertTrue(replies["empty"]["ok"], replies["empty"])
        upload = [seen for seen in self.service.requests() if seen["path"] == "/api/matches"]
        self.assertIn(["X-File-Name", ""], upload[0]["headers"])
        self.service.script({"method": "GET", "path": image, "status": 200, "body": "IMG",
                             "header_lines": [["Content-Type", "\timage/png\t "]]})
        replies = self.replies(self.run_bridge([self.log_in(), WAIT, post("tabbed", "matchImage", A),
                                                WAIT, post("switched", "health"), WAIT]))
        # A switch of protocols is a failed status at once; waiting for the rest of the
        # reply would end in TIMEOUT at the deadline.
        self.assertEqual(replies["switched"]["error"],
                         {"code": "API_ERROR", "message": "服务请求失败，请稍后重试。"})
        # Windows' WinHTTP trims the tabs; Wine's keeps them.
        if not os.environ.get("VARDEKO_BRIDGE_LAUNCHER"):
            self.assertEqual(replies["tabbed"]["data"]["content_type"], "image/png")

    def test_invalid_configuration_is_one_line_and_exit_1(self):
        env = dict(self.env, VARDEKO_API_URL="http://example.com/api")
        self.run_bridge([post("a", "appInfo")], env=env)
        self.assertEqual(self.exit_code, 1)
        self.assertEqual(self.stderr.count("\n"), 1)


if __name__ == "__main__":
    unittest.main()
