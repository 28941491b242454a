#!/usr/bin/env python3
"""The demo service over HTTP: sign-in, the ledger's idempotency, paging bounds, screenshots
and the test control paths."""
import json
import struct
import sys
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
import zlib
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import server  # noqa: E402


def png_pixels_ok(data):
    """Whether every chunk's CRC holds and the image data inflates to the rows IHDR promises."""
    width, height = struct.unpack(">II", data[16:24])
    offset, idat = 8, b""
    while offset < len(data):
        (length,) = struct.unpack(">I", data[offset:offset + 4])
        kind, body = data[offset + 4:offset + 8], data[offset + 8:offset + 8 + length]
        (crc,) = struct.unpack(">I", data[offset + 8 + length:offset + 12 + length])
        if zlib.crc32(kind + body) != crc:
            return False
        idat += body if kind == b"IDAT" else b""
        offset += 12 + length
    return len(zlib.decompress(idat)) == height * (1 + 3 * width)


class DemoServiceTest(unittest.TestCase):
    def setUp(self):
        self.server = server.make_server()
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.root = f"http://127.0.0.1:{self.server.server_address[1]}"
        self.token = self.call("POST", "/auth/login", {"email": server.DEMO_EMAIL,
                                                       "password": server.DEMO_PASSWORD})[1]["token"]

    def tearDown(self):
        self.server.shutdown()
        self.server.server_close()

    def call(self, verb, path, body=None, raw=None, headers=None, base="/api"):
        data = raw if raw is not None else None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.root + base + path, data=data, method=verb,
                                         headers=dict(headers or {}))
        if getattr(self, "token", None):
            request.add_header("Authorization", "Bearer " + self.token)
        try:
            with urllib.request.urlopen(request, timeout=10) as reply:
                status, content, kind = reply.status, reply.read(), reply.headers.get("Content-Type")
        except urllib.error.HTTPError as error:
            status, content, kind = error.code, error.read(), error.headers.get("Content-Type")
        if kind and kind.startswith("application/json") and content:
            return status, json.loads(content)
        return status, content, kind

    def entry(self, key, quantity=1):
        return {"kind": "progress", "quantity": quantity, "note": "进度", "occurred_at": None,
                "idempotency_key": key}

    def test_a_repeated_key_books_one_entry_and_pages_stay_in_bounds(self):
        status, orders = self.call("GET", "/orders")
        order = orders[0]["id"]
        path = f"/orders/{order}/entries"
        key = "0f0e0d0c-0b0a-4908-8706-050403020100"
        first = self.call("POST", path, self.entry(key))
        again = self.call("POST", path, self.entry(key, quantity=7))
        self.assertEqual((first[0], again[0]), (201, 200))
        self.assertEqual(first[1], again[1])
        for n in range(2, 25):
            self.call("POST", path, self.entry(f"0f0e0d0c-0b0a-4908-8706-0504030201{n:02d}"))
        _, page = self.call("GET", path + "?page=3&page_size=10")
        self.assertEqual((page["total"], len(page["items"]), page["has_more"]), (24, 4, False))
        self.assertEqual(self.call("GET", path + "?page=4&page_size=10")[1]["items"], [])
        for bad in ("page=0&page_size=10", "page=1&page_size=101", "page=x&page_size=1"):
            self.assertEqual(self.call("GET", f"{path}?{bad}")[0], 422, bad)
        # The key stays spent: a deleted entry is not booked again, nor is the key reused elsewhere.
        self.assertEqual(self.call("DELETE", f"{path}/{first[1]['id']}")[0], 204)
        self.assertEqual(self.call("POST", path, self.entry(key))[1]["error"]["code"], "ENTRY_DELETED")
        other = f"/orders/{orders[1]['id']}/entries"
        reused = self.call("POST", other, self.entry("0f0e0d0c-0b0a-4908-8706-050403020102"))
        self.assertEqual(reused[1]["error"]["code"], "IDEMPOTENCY_CONFLICT")
        self.assertEqual(self.call("GET", path)[1]["total"], 23)

    def test_screenshots_round_trip_and_recognition_is_stable(self):
        _, matches = self.call("GET", "/matches?page=1&page_size=100")
        seeded = self.call("GET", f"/matches/{matches['items'][0]['id']}/image")
        self.assertEqual(seeded[2], "image/png")
        self.assertTrue(png_pixels_ok(seeded[1]))
        image = b"RIFF\x00\x00\x00\x00WEBPVP8 " + bytes(range(256)) * 40
        order = self.call("GET", "/orders")[1][0]["id"]
        status, match = self.call("POST", "/matches", raw=image, headers={
            "Content-Type": "image/webp", "X-File-Name": "%E6%88%AA%E5%9B%BE%201.webp", "X-Order-Id": order})
        self.assertEqual((status, match["file_name"], match["order_id"]), (201, "截图 1.webp", order))
        self.assertEqual(self.call("GET", f"/matches/{match['id']}/image")[1:], (image, "image/webp"))
        first = self.call("POST", f"/matches/{match['id']}/recognize")[1]
        second = self.call("POST", f"/matches/{match['id']}/recognize")[1]
        for member in ("player_name", "outcome", "amount", "recognition"):
            self.assertEqual(first[member], second[member])
        self.assertFalse(second["confirmed"])
        filtered = self.call("GET", f"/matches?order_id={order}&confirmed=false")[1]
        self.assertEqual([m["id"] for m in filtered["items"]][:1], [match["id"]])
        refused = self.call("POST", "/matches", raw=b"GIF89a", headers={"Content-Type": "image/gif"})
        self.assertEqual(refused[0], 415)

    def test_control_delays_or_replaces_only_the_next_answer(self):
        path = "/bosses"
        self.call("POST", "/__control", {"path": "/api/bosses", "status": 503,
                                         "body": {"error": {"code": "DOWN", "message": "维护中"}}}, base="")
        self.assertEqual(self.call("GET", path + "?q=")[0], 503)
        self.assertEqual(self.call("GET", path + "?q=")[0], 200)
        self.call("POST", "/__control", {"path": path, "method": "POST", "delay_ms": 300}, base="")
        started = time.monotonic()
        created = self.call("POST", path, {"display_name": "赵老板", "game_id": "z", "game_name": "z", "notes": ""})
        self.assertGreaterEqual(time.monotonic() - started, 0.3)
        self.assertEqual(created[0], 201)
        self.assertEqual(self.call("GET", path + "?q=" + urllib.parse.quote("赵"))[1][0]["id"], created[1]["id"])
        self.token = "wrong"
        self.assertEqual(self.call("GET", path)[1]["error"]["code"], "UNAUTHORIZED")
        self.assertEqual(self.call("POST", "/__reset", base="")[0], 204)
        self.token = None
        self.assertEqual(len(self.call("GET", "/__data", base="")[1]["bosses"]), 3)

    def test_bulk_seed_adds_records_and_order_totals_count_them(self):
        self.assertEqual(self.call("POST", "/__seed", {"count": 600}, base="")[0], 204)
        _, orders = self.call("GET", "/orders")
        self.assertEqual(len(orders), 604)
        bulk = next(o for o in orders if o["title"] == "批量订单 0001")
        self.assertEqual((bulk["entry_count"], bulk["match_count"], bulk["progress_quantity"]), (600, 600, 600))
        self.assertEqual(bulk["boss_name"], "批量老板 0001")
        _, page = self.call("GET", f"/orders/{bulk['id']}/entries?page=6&page_size=100")
        self.assertEqual((page["total"], len(page["items"]), page["items"][-1]["note"]), (600, 100, "批量账目 0001"))
        self.assertEqual(len(self.call("GET", "/bosses?q=")[1]), 603)
        # Refusals name the member by the page's label.
        refused = self.call("POST", "/bosses", {"display_name": " ", "game_id": "", "game_name": "", "notes": ""})
        self.assertEqual(refused[1]["error"]["message"], "显示名称不能为空。")
        self.assertEqual(self.call("POST", "/__seed", {"count": -1}, base="")[0], 400)


if __name__ == "__main__":
    unittest.main()
