#!/usr/bin/env python3
"""Writes the seed corpora and the generated regression inputs of the fuzz targets.

  make_inputs.py OUT   ->  OUT/<target>/seeds/*        small, for the fuzzer to start from
                           OUT/<target>/regressions/*  replayed whole by ctest

The nesting depth and value count bounds are read from src/base/bounded_json.h, so the
inputs at and just past them follow the code.
"""
import json
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(HERE, "..", "src", "base", "bounded_json.h")) as header:
    BOUNDS = header.read()
DEPTH = int(re.search(r"kMaxJsonDepth = (\d+);", BOUNDS).group(1))
VALUES = 1 << int(re.search(r"kMaxJsonValues = std::size_t\{1\} << (\d+);", BOUNDS).group(1))

A = "0123abcd-89AB-cdef-0123-456789abcdef"
B = "fedcba98-7654-3210-FEDC-ba9876543210"
BOSS = {"display_name": "老板", "game_id": "g", "game_name": "n", "notes": ""}
ORDER = {"title": "t", "note": "", "kind": "wager", "target_quantity": 1,
         "failure_default_quantity": 0, "wager_item_id": None}
MATCH = {"player_name": "p", "note": "", "outcome": "unknown", "confirmed": True,
         "amount": None, "played_at": None, "order_id": A}
ENTRY = {"kind": "progress", "quantity": -5, "note": "", "occurred_at": None, "idempotency_key": B}
SHOT = {"name": "截图 1.png", "content_type": "image/png", "data_base64": "QUJD", "order_id": A}


def nested(depth, inner=""):
    """Arrays nested `depth` deep around `inner`."""
    return "[" * depth + inner + "]" * depth


def message(method, *args, id_="m"):
    return json.dumps({"id": id_, "method": method, "args": list(args)}, ensure_ascii=False,
                      separators=(",", ":"))


def with_member(text, member):
    """The message text with one more member, given as raw JSON text."""
    return text[:-1] + ',"x":' + member + "}"


def message_inputs():
    seeds = {
        "app_info": message("appInfo"),
        "window_control": message("windowControl", "maximize"),
        "window_close": message("windowControl", "close"),
        "window_drag": message("windowDrag"),
        "window_size": message("test:window-size", 960, 640),
        "request_close": message("test:request-close"),
        "unknown": message("Health"),
        "health": message("health"),
        "login": message("login", {"email": "a@b.c", "password": "pw"}),
        "register": message("register", {"email": "a@b.c", "password": "密码"}),
        "me": message("me"),
        "logout": message("logout"),
        "upload": message("uploadMatch", SHOT),
        "list_matches": message("listMatches", 2, 50, A, True),
        "match_stats": message("matchStats", A),
        "match_settings": message("updateMatchSettings", {"boss_id": "", "boss_player_name": "x"}),
        "get_match": message("getMatch", A),
        "match_image": message("matchImage", A),
        "update_match": message("updateMatch", A, MATCH),
        "list_bosses": message("listBosses", "老 板"),
        "create_boss": message("createBoss", BOSS),
        "update_boss": message("updateBoss", A, BOSS),
        "list_orders": message("listOrders", A),
        "create_order": message("createOrder", A, ORDER),
        "create_template": message("createOrderTemplate", dict(ORDER, name="模板")),
        "catalog": message("listCatalog", {"q": "a b", "category": "c", "page": 2, "page_size": 100}),
        "ledger": message("listLedgerEntries", A, 1, 20),
        "add_entry": message("addLedgerEntry", A, ENTRY),
        "delete_entry": message("deleteLedgerEntry", A, B),
        "id_128": message("appInfo", id_="i" * 128),
        "id_chinese": message("appInfo", id_="中" * 43),
        "args_9": message("appInfo", *range(9)),
        "escapes": '{"id":"\\u0061","method":"list\\u0042osses","args":["\\ud83d\\ude00\\u0000"]}',
        "lone_surrogate": '{"id":"s","method":"listBosses","args":["\\ud800"]}',
        "numbers": message("listMatches", 18446744073709551615, -9223372036854775808, 1e300, 0.5),
        "duplicates": '{"id":"a","id":"b","method":"appInfo","method":"me","args":[],"args":[1]}',
        # At the depth bound and one past it: as a member of the message, and inside a record
        # (the message, its args and the record take three levels).
        "depth_at_bound": with_member(message("appInfo"), nested(DEPTH - 1)),
        "depth_past_bound": with_member(message("appInfo"), nested(DEPTH)),
        "record_depth_at_bound": message("createBoss", dict(BOSS, extra=0)).replace(
            '"extra":0', '"extra":' + nested(DEPTH - 3)),
        "record_depth_past_bound": message("createBoss", dict(BOSS, extra=0)).replace(
            '"extra":0', '"extra":' + nested(DEPTH - 2)),
    }
    values_at = VALUES - 4  # the message object, "id", "method", "args" and "x" make five
    regressions = {
        # A record member nested 100000 deep once overflowed the worker's stack.
        "create_boss_deep_member": message("createBoss", dict(BOSS, extra=0)).replace(
            '"extra":0', '"extra":' + nested(100000)),
        # A record just past the object check's 131072 bytes, longer than a fuzzer input.
        "record_past_object_bound": message("createBoss", dict(BOSS, pad="x" * 131000)),
        "values_at_bound": with_member(message("appInfo"), "[" + ",".join(["0"] * (values_at - 1)) + "]"),
        "values_past_bound": with_member(message("appInfo"), "[" + ",".join(["0"] * values_at) + "]"),
    }
    return seeds, regressions


def reply(status_line, headers, body, read_size=15):
    """A reply input: the read size selector (a power of two), the header block, the body."""
    head = status_line + "\r\n" + "".join(f"{name}: {value}\r\n" for name, value in headers) + "\r\n"
    return bytes([read_size]) + head.encode() + (body if isinstance(body, bytes) else body.encode())


JSON = [("Content-Type", "application/json")]


def reply_inputs():
    error = '{"error":{"code":"ORDER_LOCKED","message":"订单已锁定"}}'
    seeds = {
        "ok": reply("HTTP/1.1 200 OK", JSON, '{"items":[1,"a",null,true,1.5]}'),
        "login": reply("HTTP/1.1 200 OK", JSON, '{"token":"t0k-2","user":{"id":2}}'),
        "no_content": reply("HTTP/1.1 204 No Content", [], ""),
        "unauthorized": reply("HTTP/1.1 401 Unauthorized", JSON, error),
        "conflict": reply("HTTP/1.1 409 Conflict", JSON, error, read_size=0),
        "html": reply("HTTP/1.1 500 Oops", [("Content-Type", "text/html")], "<html>oops</html>"),
        "redirect": reply("HTTP/1.1 302 Found", [("Location", "/x")], ""),
        "switching": reply("HTTP/1.1 101 Switching Protocols", [("Upgrade", "x")], ""),
        "interim": reply("HTTP/1.1 100 Continue", [], "") + reply("HTTP/1.1 200 OK", JSON, "{}")[1:],
        "two_content_types": reply("HTTP/1.1 200 OK", [("Content-Type", "image/webp"),
                                                       ("Content-Type", "image/png")], "IMG"),
        "tabbed_content_type": reply("HTTP/1.1 200 OK", [("Content-Type", "\timage/png\t ")], "IMG"),
        "announced_large": reply("HTTP/1.1 200 OK", JSON + [("Content-Length", "33554432")], "{}"),
        "announced_garbage": reply("HTTP/1.1 200 OK", [("content-length", "12x")], "[]", read_size=3),
        "no_status": b"\x05" + b"garbage\r\n\r\n{}",
        "bad_utf8": reply("HTTP/1.1 200 OK", JSON, b'{"a":"\xff"}'),
        "depth_at_bound": reply("HTTP/1.1 200 OK", JSON, nested(DEPTH)),
        "depth_past_bound": reply("HTTP/1.1 200 OK", JSON, nested(DEPTH + 1)),
        "error_depth_at_bound": reply("HTTP/1.1 409 Conflict", JSON,
                                      error[:-1] + ',"x":' + nested(DEPTH - 1) + "}"),
        "error_depth_past_bound": reply("HTTP/1.1 409 Conflict", JSON,
                                        error[:-1] + ',"x":' + nested(DEPTH) + "}"),
        "many_values": reply("HTTP/1.1 200 OK", JSON, "[" + ",".join(["{}"] * 20000) + "]"),
    }
    regressions = {
        # 200000 nested arrays once overflowed the worker's stack when serialised.
        "health_deep_reply": reply("HTTP/1.1 200 OK", JSON, nested(200000)),
        "error_deep_reply": reply("HTTP/1.1 409 Conflict", JSON, nested(200000)),
        "values_at_bound": reply("HTTP/1.1 200 OK", JSON, "[" + ",".join(["0"] * (VALUES - 1)) + "]"),
        "values_past_bound": reply("HTTP/1.1 200 OK", JSON, "[" + ",".join(["{}"] * VALUES) + "]"),
    }
    return seeds, regressions


def write(out, target, kind, inputs):
    folder = os.path.join(out, target, kind)
    shutil.rmtree(folder, ignore_errors=True)  # no inputs left over from an older list
    os.makedirs(folder)
    for name, data in inputs.items():
        with open(os.path.join(folder, name), "wb") as file:
            file.write(data if isinstance(data, bytes) else data.encode())


def main():
    out = sys.argv[1]
    for target, (seeds, regressions) in (("message_fuzz", message_inputs()),
                                        ("reply_fuzz", reply_inputs())):
        write(out, target, "seeds", seeds)
        write(out, target, "regressions", regressions)


if __name__ == "__main__":
    main()
