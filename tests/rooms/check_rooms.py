#!/usr/bin/python3
"""Checks the rooms of src/: every #include "..." runs one way only (the ui_X.h that uic makes of
a form included only beside X.ui, and the headers a form names for it counted as the form's
includes), no room depends on itself through others, no file is longer than 400 lines, and the
operating system's own headers are included in platform/ only (nor reach another room through a
platform header).

    check_rooms.py SRC_DIR

Prints each offence and exits 1 when there is one.
"""
import re
import sys
from pathlib import Path

# A room may include itself and the rooms of a lower rank; ui and cli share a rank and never
# include each other.
RANK = {
    "platform": 0,
    "common": 1,
    "firmware": 2,
    "access": 3,
    "printers": 4,
    "download": 5,
    "ui": 6,
    "cli": 6,
    "app": 7,
}
MAX_LINES = 400
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
# The header of a form's own widget: uic writes it into ui_X.h as #include "...".
FORM_HEADER = re.compile(r'<header(?![^>]*location="global")[^>]*>([^<]+)</header>')
SOURCES = {".h", ".hpp", ".c", ".cpp"}
SYSTEM_INCLUDE = re.compile(r"^\s*#\s*include\s*<([^>]+)>")
# The operating system's own headers (POSIX, and those of the other system the core is headed
# for): its calls belong to platform/, behind headers that name no system type. The C and C++
# standard headers, Qt and the libraries' own headers are no system's.
OS_HEADER = re.compile(
    r"(sys|arpa|net|netinet|linux)/.+"
    r"|(unistd|fcntl|dlfcn|signal|spawn|pwd|grp|poll|netdb|dirent|termios|pthread|semaphore|sched"
    r"|syslog|glob|fnmatch|wordexp|utime|strings|libgen|iconv|langinfo|regex|mqueue|aio|ftw"
    r"|utmpx|nl_types|err|execinfo|ifaddrs)\.h"
    r"|(windows|winsock2|ws2tcpip|io|direct|process|shlobj|shellapi)\.h",
    re.IGNORECASE)
# Files outside platform/ that may include such a header, each with the reason: "room/file":
# {"header": "why"}. None today (the address family CUPS's http calls take comes with CUPS's own
# header).
OS_HEADER_EXCEPTIONS = {}


def may_include(room, target):
    return room == target or RANK[target] < RANK[room]


def allowed_rooms(room):
    return ", ".join(r for r in RANK if may_include(room, r))


def check(src):
    offences = []
    edges = {}  # room -> {included room: first place}
    os_headers = {}  # platform header -> the system headers it includes
    platform_used = {}  # platform header -> first place outside platform/ that includes it

    for path in sorted(p for p in src.rglob("*") if p.is_file()):
        rel = path.relative_to(src)
        with open(path, "rb") as f:
            data = f.read()
        lines = data.count(b"\n") + (0 if data.endswith(b"\n") or not data else 1)
        if lines > MAX_LINES:
            offences.append(f"src/{rel}: {lines} lines, more than {MAX_LINES}")
        if len(rel.parts) < 2:
            continue  # src/CMakeLists.txt
        room = rel.parts[0]
        if room not in RANK:
            offences.append(f"src/{rel}: in {room}/, which is no room")
            continue
        if path.suffix not in SOURCES and path.suffix != ".ui":
            continue
        pattern = FORM_HEADER if path.suffix == ".ui" else INCLUDE
        for number, line in enumerate(data.decode("utf-8", "replace").splitlines(), 1):
            system = SYSTEM_INCLUDE.match(line) if path.suffix != ".ui" else None
            if system and OS_HEADER.fullmatch(system.group(1)):
                header = system.group(1)
                if room == "platform":
                    os_headers.setdefault(rel.as_posix(), []).append(header)
                elif header not in OS_HEADER_EXCEPTIONS.get(rel.as_posix(), {}):
                    offences.append(f"src/{rel}:{number}: includes <{header}>, a header of the "
                                    "operating system; its calls belong in platform/")
                continue
            m = pattern.search(line) if path.suffix == ".ui" else pattern.match(line)
            if not m:
                continue
            name = m.group(1)
            where = f"src/{rel}:{number}"
            parts = Path(name).parts
            if len(parts) == 1:
                # A file of the including folder, or the header uic makes of a form there.
                if (path.parent / name).is_file():
                    continue
                form = re.fullmatch(r"ui_(\w+)\.h", name)
                if form and (path.parent / f"{form.group(1)}.ui").is_file():
                    continue
                if form:
                    offences.append(f'{where}: includes "{name}", but {form.group(1)}.ui is not '
                                    f"in {rel.parent}/")
                else:
                    offences.append(f'{where}: includes "{name}", which is not in {rel.parent}/')
                continue
            target = parts[0]
            if target not in RANK:
                offences.append(f'{where}: includes "{name}" from {target}/, which is no room')
                continue
            if not (src / name).is_file():
                offences.append(f'{where}: includes "{name}", which does not exist')
            if target != room:
                edges.setdefault(room, {}).setdefault(target, where)
            if target == "platform" and room != "platform":
                platform_used.setdefault(name, where)
            if not may_include(room, target):
                offences.append(f'{where}: {room}/ includes "{name}"; {room}/ may include only '
                                f"{allowed_rooms(room)}")

    for name, where in sorted(platform_used.items()):
        for header in os_headers.get(name, []):
            offences.append(f'{where}: includes "{name}", which brings <{header}> of the operating '
                            "system out of platform/")

    # A cycle between rooms, found by a depth-first walk over the rooms' includes.
    state = {}

    def visit(room, trail):
        state[room] = "open"
        for target in sorted(edges.get(room, {})):
            if state.get(target) == "open":
                cycle = trail[trail.index(target):] + [target]
                places = ", ".join(edges[a][b] for a, b in zip(cycle, cycle[1:]))
                offences.append(f"rooms in a cycle: {' -> '.join(cycle)} ({places})")
            elif target not in state:
                visit(target, trail + [target])
        state[room] = "done"

    for room in sorted(edges):
        if room not in state:
            visit(room, [room])
    return offences


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    src = Path(sys.argv[1])
    if not (src / "platform").is_dir():
        print(f"{src} is not the src/ folder", file=sys.stderr)
        return 2
    offences = check(src)
    for offence in offences:
        print(offence)
    if offences:
        print(f"{len(offences)} offence(s) against the rooms")
        return 1
    print("rooms: every include runs one way, no cycle, no file over 400 lines, system headers "
          "only in platform/")
    return 0


if __name__ == "__main__":
    sys.exit(main())
