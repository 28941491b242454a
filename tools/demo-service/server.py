#!/usr/bin/env python3
"""Demo service for Vardeko: the 31 service methods on 127.0.0.1, in memory, seeded.

    python3 tools/demo-service/server.py [--port N]     # 0 (default): a free port

Prints "PORT <n>" once listening and serves until killed. The service base URL is
http://127.0.0.1:<n>/api (paths without "/api" are served the same way). Sign in as
demo@vardeko.local with the password vardeko-demo, or register a new account; every
account sees the same ledger. Test control paths (/__control, /__requests, /__data,
/__reset) and the reply shapes are described in README.md beside this file.

Recognition is a demo: its results are derived from a hash of the screenshot's bytes.
"""
import argparse
import hashlib
import json
import re
import secrets
import struct
import sys
import threading
import time
import urllib.parse
import uuid
import zlib
from datetime import datetime, timedelta, timezone
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BASE_PATH = "/api"
DEMO_EMAIL = "demo@vardeko.local"
DEMO_PASSWORD = "vardeko-demo"
MAX_IMAGE = 12 * 1024 * 1024
MAX_BODY = MAX_IMAGE + 1024 * 1024
MAX_RECORDED = 500
BIGGEST = 9_000_000_000_000
ID_RE = r"[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}"
IMAGE_TYPES = ("image/png", "image/jpeg", "image/webp")
SEED_NAMESPACE = uuid.UUID("6f1d7c52-3a8e-4b1f-9c2d-5e7a8b9c0d1e")


class Failure(Exception):
    """An error answer: status, code and a Chinese message."""

    def __init__(self, status, code, message):
        super().__init__(message)
        self.status, self.code, self.message = status, code, message


def not_found(what):
    return Failure(404, "NOT_FOUND", f"未找到该{what}。")


def now():
    return datetime.now(timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def seed_id(name):
    return str(uuid.uuid5(SEED_NAMESPACE, name))


# ---- member rules of the records the service accepts --------------------------------

LABELS = {
    "email": "邮箱", "password": "密码",
    "display_name": "显示名称", "game_id": "游戏 ID", "game_name": "游戏昵称", "notes": "备注",
    "title": "标题", "note": "备注", "kind": "类型", "target_quantity": "目标数量",
    "failure_default_quantity": "失败默认数量", "failure_trigger": "失败判定",
    "failure_mode": "失败计算", "failure_standard_quantity": "达标数量",
    "wager_item_id": "对赌物品编号", "wager_item_name": "对赌物品",
    "wager_condition": "对赌条件", "wager_expected": "对赌预期", "name": "模板名称",
    "player_name": "玩家名称", "outcome": "结果", "confirmed": "已确认", "amount": "金额",
    "fake_amount": "虚报金额", "failure_extra_amount": "失败追加金额",
    "item_obtained": "获得物品", "played_at": "对局时间", "order_id": "订单",
    "quantity": "数量", "occurred_at": "发生时间", "idempotency_key": "防重复编号",
    "boss_id": "老板游戏 ID", "boss_player_name": "老板玩家名",
}


def text(limit, nullable=False, nonempty=False):
    return {"kind": "text", "limit": limit, "nullable": nullable, "nonempty": nonempty}


def count(low, high, nullable=False):
    return {"kind": "count", "low": low, "high": high, "nullable": nullable}


def choice(*values):
    return {"kind": "choice", "values": values}


BOOL = {"kind": "bool"}
NULLABLE_BOOL = {"kind": "bool", "nullable": True}
RECORD_ID = {"kind": "id"}

# (member, required, rule); members not listed are ignored.
CREDENTIALS = [("email", True, text(320, nonempty=True)), ("password", True, text(1024))]
SETTINGS = [("boss_id", True, text(80)), ("boss_player_name", True, text(80))]
BOSS = [
    ("display_name", True, text(80, nonempty=True)),
    ("game_id", True, text(80)),
    ("game_name", True, text(80)),
    ("notes", True, text(4000)),
]
ORDER = [
    ("title", True, text(120, nonempty=True)),
    ("note", True, text(2000)),
    ("kind", True, choice("hourly", "escort", "single_round", "wager")),
    ("target_quantity", True, count(1, BIGGEST)),
    ("failure_default_quantity", True, count(0, BIGGEST)),
    ("failure_trigger", False, choice("failed", "failed_below_standard", "below_standard")),
    ("failure_mode", False, choice("manual", "fixed", "shortfall")),
    ("failure_standard_quantity", False, count(0, BIGGEST)),
    ("wager_item_id", False, text(80, nullable=True)),
    ("wager_item_name", False, text(160)),
    ("wager_condition", False, choice("appearance", "extracted")),
    ("wager_expected", False, choice("obtained", "not_obtained")),
]
TEMPLATE = ORDER + [("name", True, text(80, nonempty=True))]
MATCH = [
    ("player_name", True, text(80)),
    ("note", True, text(1000)),
    ("outcome", True, choice("success", "failed", "unknown")),
    ("confirmed", True, BOOL),
    ("amount", True, count(0, BIGGEST, nullable=True)),
    ("fake_amount", False, count(0, BIGGEST, nullable=True)),
    ("failure_extra_amount", False, count(0, BIGGEST)),
    ("item_obtained", False, NULLABLE_BOOL),
    ("played_at", True, text(128, nullable=True)),
    ("order_id", False, RECORD_ID),
]
ENTRY = [
    ("kind", True, choice("progress", "failure", "adjustment", "item_result")),
    ("quantity", True, count(-BIGGEST, BIGGEST)),
    ("note", True, text(1000)),
    ("occurred_at", True, text(128, nullable=True)),
    ("idempotency_key", True, RECORD_ID),
    ("amount", False, count(0, BIGGEST, nullable=True)),
    ("fake_amount", False, count(0, BIGGEST, nullable=True)),
    ("failure_extra_amount", False, count(0, BIGGEST)),
    ("item_obtained", False, NULLABLE_BOOL),
    ("outcome", False, choice("success", "failed")),
]


def invalid(member, what):
    return Failure(422, "VALIDATION_ERROR", f"{LABELS.get(member, member)}{what}")


def check_value(member, rule, value):
    kind = rule["kind"]
    if value is None:
        if rule.get("nullable"):
            return
        raise invalid(member, "不能为空。")
    if kind == "text":
        if not isinstance(value, str):
            raise invalid(member, "需要填写文字。")
        if len(value.encode("utf-16-le", "surrogatepass")) // 2 > rule["limit"]:
            raise invalid(member, "超过长度限制。")
        if rule["nonempty"] and not value.strip():
            raise invalid(member, "不能为空。")
    elif kind == "count":
        if not isinstance(value, int) or isinstance(value, bool):
            raise invalid(member, "需要填写整数。")
        if not rule["low"] <= value <= rule["high"]:
            raise invalid(member, "超出允许范围。")
    elif kind == "choice":
        if value not in rule["values"]:
            raise invalid(member, "不是可选的值。")
    elif kind == "bool":
        if not isinstance(value, bool):
            raise invalid(member, "需要是或否。")
    elif kind == "id":
        if not isinstance(value, str) or not re.fullmatch(ID_RE, value):
            raise invalid(member, "编号不正确。")


def check_record(record, rules):
    """The known members of `record`, checked; raises Failure on the first broken rule."""
    if not isinstance(record, dict):
        raise Failure(400, "BAD_REQUEST", "请求内容需要是 JSON 对象。")
    out = {}
    for member, required, rule in rules:
        if member not in record:
            if required:
                raise Failure(422, "VALIDATION_ERROR", f"请填写{LABELS.get(member, member)}。")
            continue
        check_value(member, rule, record[member])
        out[member] = record[member]
    return out


# ---- generated screenshots ----------------------------------------------------------

def png(width, height, pixel):
    """A valid RGB PNG whose pixel (x, y) is pixel(x, y) -> (r, g, b)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x, y))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def screenshot(number, success):
    """A small made-up game result screen: a banner in the result's colour and loot bars."""
    banner = (46, 160, 67) if success else (200, 55, 55)
    bars = [(40 + 37 * ((number * 7 + i * 3) % 5)) for i in range(4)]

    def pixel(x, y):
        if 18 <= y < 48 and 20 <= x < 300:
            return banner
        for i, length in enumerate(bars):
            top = 70 + i * 24
            if top <= y < top + 12 and 40 <= x < 40 + length * 1.4:
                return (220, 180 - i * 30, 60 + i * 40)
        shade = 24 + (y * 40) // 180
        return (shade, shade + 6, shade + 16 + number * 8 % 30)

    return png(320, 180, pixel)


def png_size(data):
    if data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR" and len(data) >= 24:
        return struct.unpack(">II", data[16:24])
    return None


# ---- the catalog ---------------------------------------------------------------------

def catalog_items():
    groups = {
        "武器": ["突击步枪", "狙击步枪", "冲锋枪", "霰弹枪", "手枪"],
        "防具": ["防弹衣", "战术头盔", "胸挂"],
        "药品": ["急救包", "止痛药", "肾上腺素"],
        "物资": ["电路板", "金条", "显卡", "军用电池"],
        "钥匙卡": ["蓝色门禁卡", "红色门禁卡", "实验室钥匙"],
        "收藏品": ["怀表", "古董花瓶", "钻石项链"],
    }
    grades = [("普通", 1), ("精良", 3), ("稀有", 8), ("史诗", 20), ("传说", 60)]
    items, number = [], 0
    for category, names in groups.items():
        for base_value, name in enumerate(names, start=1):
            for grade, factor in grades:
                number += 1
                items.append({"id": f"item-{number:04d}", "name": f"{grade}{name}", "category": category,
                              "grade": grade, "value": base_value * factor * 1000})
    return items


CATALOG = catalog_items()
CATEGORIES = sorted({item["category"] for item in CATALOG}, key=[i["category"] for i in CATALOG].index)


# ---- the store -----------------------------------------------------------------------

class Store:
    """All data of the demo, guarded by one lock; every method runs with it held."""

    def __init__(self):
        self.lock = threading.Lock()
        self.users = {}
        self.tokens = {}
        self.seq = 0
        self.seed()
        self.add_user(DEMO_EMAIL, DEMO_PASSWORD, "演示用户", seed_id("user-demo"), "2025-03-01T08:00:00Z")

    def next_seq(self):
        self.seq += 1
        return self.seq

    def add_user(self, email, password, name, user_id=None, created_at=None):
        self.users[email] = {"id": user_id or str(uuid.uuid4()), "email": email, "password": password,
                             "display_name": name, "created_at": created_at or now()}
        return self.users[email]

    def seed(self):
        self.bosses, self.orders, self.templates = {}, {}, {}
        self.entries, self.keys, self.matches, self.images = {}, {}, {}, {}
        self.settings = {"boss_id": "wang8848", "boss_player_name": "王者老王", "updated_at": "2025-03-01T08:00:00Z"}
        start = datetime(2025, 3, 1, 9, 0, tzinfo=timezone.utc)

        def at(hours):
            return (start + timedelta(hours=hours)).strftime("%Y-%m-%dT%H:%M:%SZ")

        bosses = [
            ("王老板", "wang8848", "王者老王", "老客户，只打夜场，结算爽快。"),
            ("李总", "li_zong", "李总不差钱", "喜欢赌约单，要求全程录屏。"),
            ("陈哥", "chen_ge_77", "陈哥带飞", "新客户，先从单局开始。"),
        ]
        for i, (name, game_id, game_name, notes) in enumerate(bosses):
            self.bosses[seed_id(f"boss-{i}")] = {
                "id": seed_id(f"boss-{i}"), "display_name": name, "game_id": game_id, "game_name": game_name,
                "notes": notes, "created_at": at(i), "updated_at": at(i), "_seq": self.next_seq()}
        templates = [
            ("护航 10 局", {"title": "护航 10 局", "note": "全程护航，撤离成功计一局。", "kind": "escort",
                           "target_quantity": 10, "failure_default_quantity": 0,
                           "failure_trigger": "failed", "failure_mode": "fixed"}),
            ("包时 3 小时", {"title": "包时 3 小时", "note": "按小时计费。", "kind": "hourly",
                            "target_quantity": 3, "failure_default_quantity": 0}),
            ("赌约：金条", {"title": "赌约：带出金条", "note": "带出传说金条算赢。", "kind": "wager",
                          "target_quantity": 1, "failure_default_quantity": 1,
                          "wager_item_id": "item-0065", "wager_item_name": "传说金条",
                          "wager_condition": "extracted", "wager_expected": "obtained"}),
        ]
        for i, (name, record) in enumerate(templates):
            tid = seed_id(f"template-{i}")
            self.templates[tid] = dict(id=tid, name=name, **record, created_at=at(i), updated_at=at(i),
                                       _seq=self.next_seq())
        orders = [
            (0, "王老板护航 10 局", templates[0][1]),
            (0, "王老板包时 3 小时", templates[1][1]),
            (1, "李总金条赌约", templates[2][1]),
            (2, "陈哥单局代打", {"title": "陈哥单局代打", "note": "", "kind": "single_round",
                             "target_quantity": 1, "failure_default_quantity": 0}),
        ]
        for i, (boss, title, record) in enumerate(orders):
            oid = seed_id(f"order-{i}")
            self.orders[oid] = dict(id=oid, boss_id=seed_id(f"boss-{boss}"), **dict(record, title=title),
                                    created_at=at(10 + i), updated_at=at(10 + i), _seq=self.next_seq())
        entries = [
            (0, "progress", 3, "前三局顺利撤离"), (0, "failure", 1, "第四局被淘汰"),
            (0, "progress", 2, "补回两局"), (0, "adjustment", -1, "老板同意抵扣一局"),
            (1, "progress", 1, "第一小时"), (2, "item_result", 1, "金条已带出"),
        ]
        for i, (order, kind, quantity, note) in enumerate(entries):
            eid = seed_id(f"entry-{i}")
            key = seed_id(f"entry-key-{i}")
            record = {"id": eid, "order_id": seed_id(f"order-{order}"), "kind": kind, "quantity": quantity,
                      "note": note, "occurred_at": at(20 + i), "idempotency_key": key,
                      "created_at": at(20 + i), "_seq": self.next_seq()}
            if kind == "item_result":
                record["item_obtained"] = True
                record["outcome"] = "success"
            self.entries[eid] = record
            self.keys[key] = eid
        matches = [
            (0, True, True, "王者老王", 452000), (0, False, True, "王者老王", 0),
            (2, True, False, None, None), (None, True, False, None, None),
        ]
        for i, (order, success, recognized, player, amount) in enumerate(matches):
            mid = seed_id(f"match-{i}")
            image = screenshot(i, success)
            self.images[mid] = ("image/png", image)
            self.matches[mid] = {
                "id": mid, "order_id": seed_id(f"order-{order}") if order is not None else None,
                "player_name": player or "", "note": "", "outcome": ("success" if success else "failed")
                if recognized else "unknown", "confirmed": recognized and i == 0,
                "amount": amount, "played_at": at(30 + i) if recognized else None,
                "recognized": recognized, "file_name": f"对局截图 {i + 1}.png", "content_type": "image/png",
                "image_size": len(image), "created_at": at(30 + i), "updated_at": at(30 + i),
                "_seq": self.next_seq()}

    def bulk(self, count):
        """Adds `count` bosses and orders (one order a boss), and `count` entries and matches,
        all on the first of these orders, so that every list has far more than a page."""
        start = datetime(2025, 4, 1, 9, 0, tzinfo=timezone.utc)
        image = screenshot(0, True)
        first_order = None
        for i in range(1, count + 1):
            stamp = (start + timedelta(minutes=i)).strftime("%Y-%m-%dT%H:%M:%SZ")
            bid, oid = seed_id(f"bulk-boss-{i}"), seed_id(f"bulk-order-{i}")
            self.bosses[bid] = {"id": bid, "display_name": f"批量老板 {i:04d}", "game_id": f"bulk_{i:04d}",
                                "game_name": f"批量昵称 {i:04d}", "notes": "", "created_at": stamp,
                                "updated_at": stamp, "_seq": self.next_seq()}
            self.orders[oid] = {"id": oid, "boss_id": bid, "title": f"批量订单 {i:04d}", "note": "",
                                "kind": ("escort", "hourly", "single_round", "wager")[i % 4],
                                "target_quantity": 10 + i % 7, "failure_default_quantity": 0,
                                "created_at": stamp, "updated_at": stamp, "_seq": self.next_seq()}
            first_order = first_order or oid
        for i in range(1, count + 1):
            stamp = (start + timedelta(minutes=count + i)).strftime("%Y-%m-%dT%H:%M:%SZ")
            eid, key, mid = seed_id(f"bulk-entry-{i}"), seed_id(f"bulk-entry-key-{i}"), seed_id(f"bulk-match-{i}")
            self.entries[eid] = {"id": eid, "order_id": first_order, "kind": "progress", "quantity": 1,
                                 "note": f"批量账目 {i:04d}", "occurred_at": stamp, "idempotency_key": key,
                                 "created_at": stamp, "_seq": self.next_seq()}
            self.keys[key] = eid
            self.images[mid] = ("image/png", image)
            self.matches[mid] = {"id": mid, "order_id": first_order, "player_name": f"批量玩家 {i:04d}",
                                 "note": "", "outcome": "success", "confirmed": i % 2 == 0, "amount": 1000 * i,
                                 "played_at": stamp, "recognized": True, "file_name": f"批量截图 {i:04d}.png",
                                 "content_type": "image/png", "image_size": len(image), "created_at": stamp,
                                 "updated_at": stamp, "_seq": self.next_seq()}

    # -- views: stored records without their private members, with computed ones

    @staticmethod
    def public(record):
        return {k: v for k, v in record.items() if not k.startswith("_")}

    def order_totals(self):
        """Per order id: (progress quantity, entry count, match count), in one pass."""
        totals = {}
        for e in self.entries.values():
            progress, entries, matches = totals.get(e["order_id"], (0, 0, 0))
            if e["kind"] in ("progress", "adjustment"):
                progress += e["quantity"]
            totals[e["order_id"]] = (progress, entries + 1, matches)
        for m in self.matches.values():
            progress, entries, matches = totals.get(m["order_id"], (0, 0, 0))
            totals[m["order_id"]] = (progress, entries, matches + 1)
        return totals

    def order_view(self, order, totals=None):
        out = self.public(order)
        boss = self.bosses.get(order["boss_id"])
        totals = self.order_totals() if totals is None else totals
        out["boss_name"] = boss["display_name"] if boss else ""
        out["progress_quantity"], out["entry_count"], out["match_count"] = totals.get(order["id"], (0, 0, 0))
        return out

    @staticmethod
    def newest_first(records):
        return sorted(records, key=lambda r: r["_seq"], reverse=True)

    def find(self, table, record_id, what):
        record = table.get(record_id.lower())
        if record is None:
            raise not_found(what)
        return record


def page_args(query, default_size):
    try:
        page = int(query.get("page", "1"))
        size = int(query.get("page_size", str(default_size)))
    except ValueError:
        raise Failure(422, "PAGE_INVALID", "分页参数不正确。") from None
    if page < 1 or not 1 <= size <= 100:
        raise Failure(422, "PAGE_INVALID", "分页参数不正确。")
    return page, size


def paged(records, query, default_size, **extra):
    page, size = page_args(query, default_size)
    chunk = records[(page - 1) * size: page * size]
    return dict({"items": chunk, "page": page, "page_size": size, "total": len(records),
                 "has_more": page * size < len(records)}, **extra)


def query_id(query, name):
    value = query.get(name, "")
    if value and not re.fullmatch(ID_RE, value):
        raise Failure(422, "VALIDATION_ERROR", "记录编号不正确。")
    return value.lower()


# ---- the methods -----------------------------------------------------------------------

class Service:
    def __init__(self, recognize_delay_ms=0):
        self.store = Store()
        self.recognize_delay = recognize_delay_ms / 1000
        self.routes = []
        for method, pattern, handler, auth in [
            ("GET", "/health", self.health, False),
            ("POST", "/auth/login", self.login, False),
            ("POST", "/auth/register", self.register, False),
            ("POST", "/auth/logout", self.logout, True),
            ("GET", "/me", self.me, True),
            ("POST", "/matches", self.upload_match, True),
            ("GET", "/matches", self.list_matches, True),
            ("GET", "/matches/stats", self.match_stats, True),
            ("GET", "/matches/settings", self.match_settings, True),
            ("PATCH", "/matches/settings", self.update_match_settings, True),
            ("GET", "/matches/{id}", self.get_match, True),
            ("PATCH", "/matches/{id}", self.update_match, True),
            ("DELETE", "/matches/{id}", self.delete_match, True),
            ("POST", "/matches/{id}/recognize", self.recognize_match, True),
            ("GET", "/matches/{id}/image", self.match_image, True),
            ("GET", "/bosses", self.list_bosses, True),
            ("POST", "/bosses", self.create_boss, True),
            ("GET", "/bosses/{id}", self.get_boss, True),
            ("PATCH", "/bosses/{id}", self.update_boss, True),
            ("POST", "/bosses/{id}/orders", self.create_order, True),
            ("GET", "/orders", self.list_orders, True),
            ("GET", "/orders/{id}", self.get_order, True),
            ("PATCH", "/orders/{id}", self.update_order, True),
            ("GET", "/orders/{id}/entries", self.list_entries, True),
            ("POST", "/orders/{id}/entries", self.add_entry, True),
            ("DELETE", "/orders/{id}/entries/{id}", self.delete_entry, True),
            ("GET", "/order-templates", self.list_templates, True),
            ("POST", "/order-templates", self.create_template, True),
            ("PATCH", "/order-templates/{id}", self.update_template, True),
            ("DELETE", "/order-templates/{id}", self.delete_template, True),
            ("GET", "/catalog/items", self.list_catalog, True),
        ]:
            regex = re.compile("^" + pattern.replace("{id}", f"({ID_RE})") + "$")
            self.routes.append((method, regex, handler, auth))

    def handle(self, request):
        """(status, payload, content type) for a request; payload is JSON-able or bytes."""
        known_path = False
        for method, regex, handler, auth in self.routes:
            match = regex.match(request.path)
            if not match:
                continue
            known_path = True
            if method != request.method:
                continue
            with self.store.lock:
                if auth:
                    request.user = self.authenticate(request)
                if handler == self.recognize_match:
                    self.store.find(self.store.matches, match.group(1), "对局")
            if handler == self.recognize_match and self.recognize_delay:
                time.sleep(self.recognize_delay)  # a real recognition takes a while
            with self.store.lock:
                return handler(request, *(g.lower() for g in match.groups()))
        if known_path:
            raise Failure(405, "METHOD_NOT_ALLOWED", "不支持该请求方法。")
        raise Failure(404, "NOT_FOUND", "接口不存在。")

    def authenticate(self, request):
        header = request.headers.get("Authorization", "")
        token = header[7:] if header.startswith("Bearer ") else ""
        email = self.store.tokens.get(token)
        if not email:
            raise Failure(401, "UNAUTHORIZED", "登录已失效，请重新登录。")
        request.token = token
        return self.store.users[email]

    @staticmethod
    def user_view(user):
        return {k: v for k, v in user.items() if k != "password"}

    # -- account

    def health(self, request):
        return 200, {"status": "ok", "service": "Vardeko 演示服务", "time": now()}

    def login(self, request):
        credentials = check_record(request.json(), CREDENTIALS)
        user = self.store.users.get(credentials["email"].strip().lower())
        if not user or not secrets.compare_digest(user["password"], credentials["password"]):
            raise Failure(401, "LOGIN_FAILED", "邮箱或密码不正确。")
        return 200, self.session(user)

    def register(self, request):
        credentials = check_record(request.json(), CREDENTIALS)
        email = credentials["email"].strip().lower()
        if not re.fullmatch(r"[^@\s]+@[^@\s]+", email):
            raise Failure(422, "VALIDATION_ERROR", "邮箱格式不正确。")
        if len(credentials["password"]) < 8:
            raise Failure(422, "VALIDATION_ERROR", "密码至少需要 8 个字符。")
        if email in self.store.users:
            raise Failure(409, "EMAIL_TAKEN", "该邮箱已注册，请直接登录。")
        user = self.store.add_user(email, credentials["password"], email.split("@")[0])
        return 201, self.session(user)

    def session(self, user):
        token = "demo-" + secrets.token_urlsafe(32)
        self.store.tokens[token] = user["email"]
        return {"token": token, "user": self.user_view(user)}

    def logout(self, request):
        self.store.tokens.pop(request.token, None)
        return 204, None

    def me(self, request):
        return 200, self.user_view(request.user)

    # -- bosses

    def list_bosses(self, request):
        q = request.query.get("q", "").strip().lower()
        found = [self.store.public(b) for b in self.store.newest_first(self.store.bosses.values())
                 if not q or any(q in str(b[k]).lower() for k in ("display_name", "game_id", "game_name", "notes"))]
        return 200, found

    def get_boss(self, request, boss_id):
        return 200, self.store.public(self.store.find(self.store.bosses, boss_id, "老板"))

    def create_boss(self, request):
        record = check_record(request.json(), BOSS)
        boss_id, stamp = str(uuid.uuid4()), now()
        self.store.bosses[boss_id] = dict(id=boss_id, **record, created_at=stamp, updated_at=stamp,
                                          _seq=self.store.next_seq())
        return 201, self.store.public(self.store.bosses[boss_id])

    def update_boss(self, request, boss_id):
        boss = self.store.find(self.store.bosses, boss_id, "老板")
        boss.update(check_record(request.json(), BOSS), updated_at=now())
        return 200, self.store.public(boss)

    # -- orders and templates

    def list_orders(self, request):
        boss_id = query_id(request.query, "boss_id")
        totals = self.store.order_totals()
        return 200, [self.store.order_view(o, totals) for o in self.store.newest_first(self.store.orders.values())
                     if not boss_id or o["boss_id"] == boss_id]

    def get_order(self, request, order_id):
        return 200, self.store.order_view(self.store.find(self.store.orders, order_id, "订单"))

    def create_order(self, request, boss_id):
        self.store.find(self.store.bosses, boss_id, "老板")
        record = check_record(request.json(), ORDER)
        order_id, stamp = str(uuid.uuid4()), now()
        self.store.orders[order_id] = dict(id=order_id, boss_id=boss_id, **record, created_at=stamp,
                                           updated_at=stamp, _seq=self.store.next_seq())
        return 201, self.store.order_view(self.store.orders[order_id])

    def update_order(self, request, order_id):
        order = self.store.find(self.store.orders, order_id, "订单")
        record = check_record(request.json(), ORDER)
        # The whole record is sent: optional members left out are no longer set.
        for member, required, _ in ORDER:
            if not required and member not in record:
                order.pop(member, None)
        order.update(record, updated_at=now())
        return 200, self.store.order_view(order)

    def list_templates(self, request):
        return 200, [self.store.public(t) for t in self.store.newest_first(self.store.templates.values())]

    def create_template(self, request):
        record = check_record(request.json(), TEMPLATE)
        template_id, stamp = str(uuid.uuid4()), now()
        self.store.templates[template_id] = dict(id=template_id, **record, created_at=stamp, updated_at=stamp,
                                                 _seq=self.store.next_seq())
        return 201, self.store.public(self.store.templates[template_id])

    def update_template(self, request, template_id):
        template = self.store.find(self.store.templates, template_id, "订单模板")
        record = check_record(request.json(), TEMPLATE)
        for member, required, _ in TEMPLATE:
            if not required and member not in record:
                template.pop(member, None)
        template.update(record, updated_at=now())
        return 200, self.store.public(template)

    def delete_template(self, request, template_id):
        self.store.find(self.store.templates, template_id, "订单模板")
        del self.store.templates[template_id]
        return 204, None

    # -- ledger entries

    def list_entries(self, request, order_id):
        self.store.find(self.store.orders, order_id, "订单")
        mine = [self.store.public(e) for e in self.store.newest_first(self.store.entries.values())
                if e["order_id"] == order_id]
        return 200, paged(mine, request.query, 20, order_id=order_id)

    def add_entry(self, request, order_id):
        self.store.find(self.store.orders, order_id, "订单")
        record = check_record(request.json(), ENTRY)
        key = record["idempotency_key"].lower()
        booked = self.store.keys.get(key)
        if booked is not None:
            # The same entry sent again (a retry): answer with what was booked the first time.
            entry = self.store.entries.get(booked)
            if entry is None:
                raise Failure(409, "ENTRY_DELETED", "这条账目已被删除，不能再次记入。")
            if entry["order_id"] != order_id:
                raise Failure(409, "IDEMPOTENCY_CONFLICT", "该幂等键已用于其他订单的账目。")
            return 200, self.store.public(entry)
        entry_id = str(uuid.uuid4())
        self.store.entries[entry_id] = dict(id=entry_id, order_id=order_id, **record, created_at=now(),
                                            _seq=self.store.next_seq())
        self.store.keys[key] = entry_id
        return 201, self.store.public(self.store.entries[entry_id])

    def delete_entry(self, request, order_id, entry_id):
        entry = self.store.find(self.store.entries, entry_id, "账目")
        if entry["order_id"] != order_id:
            raise not_found("账目")
        del self.store.entries[entry_id]
        return 204, None

    # -- matches

    def upload_match(self, request):
        content_type = request.headers.get("Content-Type", "")
        if content_type not in IMAGE_TYPES:
            raise Failure(415, "UNSUPPORTED_IMAGE", "只支持 PNG、JPEG 和 WebP 图片。")
        if not request.body:
            raise Failure(422, "EMPTY_IMAGE", "截图内容为空。")
        if len(request.body) > MAX_IMAGE:
            raise Failure(413, "IMAGE_TOO_LARGE", "截图不能超过 12 MB。")
        name = urllib.parse.unquote(request.headers.get("X-File-Name", ""), errors="replace")
        order_id = request.headers.get("X-Order-Id", "")
        if order_id:
            if not re.fullmatch(ID_RE, order_id):
                raise Failure(422, "VALIDATION_ERROR", "记录编号不正确。")
            order_id = self.store.find(self.store.orders, order_id, "订单")["id"]
        match_id, stamp = str(uuid.uuid4()), now()
        self.store.images[match_id] = (content_type, request.body)
        self.store.matches[match_id] = {
            "id": match_id, "order_id": order_id or None, "player_name": "", "note": "", "outcome": "unknown",
            "confirmed": False, "amount": None, "played_at": None, "recognized": False,
            "file_name": name[:255], "content_type": content_type, "image_size": len(request.body),
            "created_at": stamp, "updated_at": stamp, "_seq": self.store.next_seq()}
        return 201, self.store.public(self.store.matches[match_id])

    def filtered_matches(self, query):
        order_id = query_id(query, "order_id")
        confirmed = query.get("confirmed")
        if confirmed not in (None, "true", "false"):
            raise Failure(422, "VALIDATION_ERROR", "确认状态只能是 true 或 false。")
        return [m for m in self.store.newest_first(self.store.matches.values())
                if (not order_id or m["order_id"] == order_id)
                and (confirmed is None or m["confirmed"] == (confirmed == "true"))], order_id

    def list_matches(self, request):
        matches, _ = self.filtered_matches(request.query)
        return 200, paged([self.store.public(m) for m in matches], request.query, 20)

    def match_stats(self, request):
        matches, order_id = self.filtered_matches(request.query)
        outcomes = {o: sum(1 for m in matches if m["outcome"] == o) for o in ("success", "failed", "unknown")}
        confirmed = [m for m in matches if m["confirmed"]]
        return 200, dict(
            {"order_id": order_id or None, "total": len(matches), "confirmed": len(confirmed),
             "unconfirmed": len(matches) - len(confirmed)}, **outcomes,
            amount_total=sum(m.get("amount") or 0 for m in confirmed),
            fake_amount_total=sum(m.get("fake_amount") or 0 for m in confirmed),
            failure_extra_amount_total=sum(m.get("failure_extra_amount") or 0 for m in confirmed))

    def match_settings(self, request):
        return 200, dict(self.store.settings)

    def update_match_settings(self, request):
        self.store.settings.update(check_record(request.json(), SETTINGS), updated_at=now())
        return 200, dict(self.store.settings)

    def get_match(self, request, match_id):
        return 200, self.store.public(self.store.find(self.store.matches, match_id, "对局"))

    def update_match(self, request, match_id):
        match = self.store.find(self.store.matches, match_id, "对局")
        record = check_record(request.json(), MATCH)
        if record.get("order_id"):
            record["order_id"] = self.store.find(self.store.orders, record["order_id"], "订单")["id"]
        match.update(record, updated_at=now())
        return 200, self.store.public(match)

    def delete_match(self, request, match_id):
        self.store.find(self.store.matches, match_id, "对局")
        del self.store.matches[match_id]
        del self.store.images[match_id]
        return 204, None

    def recognize_match(self, request, match_id):
        match = self.store.find(self.store.matches, match_id, "对局")
        content_type, image = self.store.images[match_id]
        digest = hashlib.sha256(image).digest()
        order = self.store.orders.get(match["order_id"] or "")
        size = png_size(image) if content_type == "image/png" else None
        match.update(
            player_name=self.store.settings["boss_player_name"] or f"玩家{int.from_bytes(digest[3:5], 'big') % 10000:04d}",
            outcome="success" if digest[0] % 3 else "failed",
            amount=(int.from_bytes(digest[1:3], "big") % 90 + 10) * 10000,
            played_at=match["played_at"] or match["created_at"],
            recognized=True, updated_at=now(),
            recognition={"engine": "demo", "confidence": round(0.6 + digest[6] % 40 / 100, 2),
                         "width": size[0] if size else None, "height": size[1] if size else None,
                         "note": "演示识别：结果由截图字节的散列值推出，不是真正的图像识别。"})
        if order and order.get("kind") == "wager":
            match["item_obtained"] = digest[5] % 2 == 0
        return 200, self.store.public(match)

    def match_image(self, request, match_id):
        self.store.find(self.store.matches, match_id, "对局")
        content_type, image = self.store.images[match_id]
        return 200, image, content_type

    # -- catalog

    def list_catalog(self, request):
        q = request.query.get("q", "").strip().lower()
        category = request.query.get("category", "")
        found = [item for item in CATALOG if (not category or item["category"] == category)
                 and (not q or q in item["name"].lower() or q in item["id"])]
        return 200, paged(found, request.query, 40, categories=CATEGORIES)


# ---- HTTP ----------------------------------------------------------------------------

class Request:
    def __init__(self, method, path, query, headers, body):
        self.method, self.path, self.headers, self.body = method, path, headers, body
        self.query = {k: v[-1] for k, v in urllib.parse.parse_qs(query, keep_blank_values=True).items()}
        self.user = self.token = None

    def json(self):
        try:
            return json.loads(self.body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            raise Failure(400, "BAD_REQUEST", "请求内容不是有效的 JSON。") from None


class Control:
    """Scripted answers for tests: the next answers to a path, delayed or replaced."""

    def __init__(self):
        self.lock = threading.Lock()
        self.pending = []
        self.recorded = []

    def add(self, rule):
        if not isinstance(rule, dict) or not isinstance(rule.get("path"), str):
            raise Failure(400, "BAD_REQUEST", "需要 path。")
        rule = dict(rule, path=strip_base(rule["path"]), times=int(rule.get("times", 1)))
        with self.lock:
            self.pending.append(rule)
            return len(self.pending)

    def take(self, method, path, query):
        full = path + ("?" + query if query else "")
        with self.lock:
            for rule in self.pending:
                target = full if "?" in rule["path"] else path
                if rule.get("method", method) == method and rule["path"] == target:
                    rule["times"] -= 1
                    if rule["times"] <= 0:
                        self.pending.remove(rule)
                    return rule
        return None

    def record(self, method, path, headers, body):
        try:
            content = json.loads(body.decode("utf-8")) if body else None
        except (UnicodeDecodeError, ValueError):
            content = None
        with self.lock:
            self.recorded.append({"method": method, "path": path, "headers": [[k, v] for k, v in headers.items()],
                                  "json": content, "body_size": len(body)})
            del self.recorded[:-MAX_RECORDED]

    def drain(self):
        with self.lock:
            recorded, self.recorded = self.recorded, []
        return recorded

    def clear(self):
        with self.lock:
            self.pending, self.recorded = [], []


def strip_base(path):
    if path == BASE_PATH or path.startswith(BASE_PATH + "/"):
        return path[len(BASE_PATH):] or "/"
    return path


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VardekoDemo/1"
    # Headers and body go out in two writes: with Nagle's algorithm the body waits for the
    # client's delayed acknowledgement of the headers, about 40 ms a reply on a connection
    # kept alive (a client that reuses connections, such as a browser or curl).
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def send(self, status, payload=None, content_type="application/json; charset=utf-8"):
        if isinstance(payload, (bytes, bytearray)):
            body = bytes(payload)
        elif status == 204:
            body = b""
        else:
            body = json.dumps(payload, ensure_ascii=False, separators=(",", ":")).encode()
        self.send_response(status)
        if status != 204:
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body:
            self.wfile.write(body)

    def fail(self, failure):
        self.send(failure.status, {"error": {"code": failure.code, "message": failure.message}})

    def handle_control(self, path, body):
        control, service = self.server.control, self.server.service
        if path == "/__control" and self.command == "POST":
            try:
                pending = control.add(json.loads(body or b"null"))
            except ValueError:
                raise Failure(400, "BAD_REQUEST", "请求内容不是有效的 JSON。") from None
            self.send(200, {"pending": pending})
        elif path == "/__requests" and self.command == "GET":
            self.send(200, control.drain())
        elif path == "/__data" and self.command == "GET":
            store = service.store
            with store.lock:
                data = {name: [store.public(r) for r in store.newest_first(getattr(store, name).values())]
                        for name in ("bosses", "orders", "templates", "entries", "matches")}
                data["settings"] = dict(store.settings)
            self.send(200, data)
        elif path == "/__seed" and self.command == "POST":
            try:
                count = json.loads(body or b"null")["count"]
            except (ValueError, TypeError, KeyError):
                raise Failure(400, "BAD_REQUEST", "需要 {\"count\": n}。") from None
            if not isinstance(count, int) or not 0 <= count <= 20000:
                raise Failure(400, "BAD_REQUEST", "count 需要是 0 到 20000 的整数。")
            with service.store.lock:
                service.store.bulk(count)
            self.send(204)
        elif path == "/__reset" and self.command == "POST":
            with service.store.lock:
                service.store.seed()
            control.clear()
            self.send(204)
        else:
            raise Failure(404, "NOT_FOUND", "接口不存在。")

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length > MAX_BODY:
            self.close_connection = True
            self.fail(Failure(413, "TOO_LARGE", "请求内容过大。"))
            return
        body = self.rfile.read(length) if length else b""
        # The request line arrives decoded as Latin-1; a client that sends raw UTF-8 is read as UTF-8.
        raw = self.path.encode("latin-1", "replace").decode("utf-8", "replace")
        url = urllib.parse.urlsplit(raw)
        path = strip_base(url.path)
        try:
            if path.startswith("/__"):
                self.handle_control(path, body)
                return
            control = self.server.control
            control.record(self.command, raw, self.headers, body)
            scripted = control.take(self.command, path, url.query)
            if scripted:
                time.sleep(scripted.get("delay_ms", 0) / 1000)
                if scripted.get("drop"):
                    self.close_connection = True
                    return
                if "status" in scripted:
                    answer = scripted.get("body")
                    if isinstance(answer, str):
                        self.send(scripted["status"], answer.encode(),
                                  scripted.get("content_type", "application/json; charset=utf-8"))
                    else:
                        self.send(scripted["status"], answer)
                    return
            request = Request(self.command, path, url.query, self.headers, body)
            self.send(*self.server.service.handle(request))
        except Failure as failure:
            self.fail(failure)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True
        except Exception:  # a fault of the demo itself: still a JSON answer
            self.fail(Failure(500, "INTERNAL_ERROR", "演示服务内部出错。"))

    do_GET = do_POST = do_PATCH = do_DELETE = do_PUT = handle_any


def make_server(port=0, recognize_delay_ms=0):
    ThreadingHTTPServer.request_queue_size = 64
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    server.service = Service(recognize_delay_ms)
    server.control = Control()
    return server


def main():
    parser = argparse.ArgumentParser(description="Vardeko demo service")
    parser.add_argument("--port", type=int, default=0, help="0: a free port")
    parser.add_argument("--recognize-delay-ms", type=int, default=0,
                        help="how long each recognition takes")
    parser.add_argument("--bulk", type=int, default=0,
                        help="add this many bosses, orders, entries and matches to the seed")
    args = parser.parse_args()
    server = make_server(args.port, args.recognize_delay_ms)
    if args.bulk:
        server.service.store.bulk(args.bulk)
    print(f"PORT {server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
