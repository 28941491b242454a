#!/usr/bin/env python3
"""Fails when an executable imports a function listed as newer than Windows 10 1507.

usage: imports_check.py OBJDUMP PROGRAM.exe LIST
The imports come from `objdump -p` (the PE import tables); the list holds one
"dll function" or "dll *" per line, with # comments.
"""
import re
import subprocess
import sys


def imports(objdump, program):
    text = subprocess.run([objdump, "-p", program], check=True, capture_output=True,
                          text=True).stdout
    found = {}
    dll = None
    for line in text.splitlines():
        named = re.match(r"\s*DLL Name:\s*(\S+)", line)
        if named:
            dll = named.group(1).lower()
            found.setdefault(dll, set())
            continue
        entry = re.match(r"\s+[0-9a-fA-F]+\s+[0-9]+\s+(\S+)\s*$", line)
        if dll and entry:
            found[dll].add(entry.group(1))
        elif not line.strip():
            dll = None
    return found


def forbidden(path):
    rules = []
    with open(path, encoding="utf-8") as listing:
        for line in listing:
            line = line.split("#", 1)[0].strip()
            if line:
                dll, function = line.split()
                rules.append((dll.lower(), function))
    return rules


def main():
    objdump, program, listing = sys.argv[1:4]
    found = imports(objdump, program)
    # A parse that finds nothing would pass anything: the window calls must be there.
    if "CreateWindowExW" not in found.get("user32.dll", set()):
        print("no user32 imports read from", program)
        return 1
    bad = []
    for dll, function in forbidden(listing):
        if function == "*":
            if dll in found:
                bad.append(f"{dll} (whole DLL)")
        elif function in found.get(dll, set()):
            bad.append(f"{dll} {function}")
    for dll in sorted(found):
        print(dll, len(found[dll]), "functions")
    if bad:
        print("imported but newer than Windows 10 1507:", ", ".join(bad))
        print("0 passed, 1 failed")
        return 1
    print("1 passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
