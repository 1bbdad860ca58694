#!/usr/bin/env python3
"""Refuses what builds and runs on Linux but breaks on the Mac.

    scripts/check-portability.py [FILE...]

C++ (.cpp, .hpp, .h, .c, .mm): Linux-only calls and files (st_mtim, pipe2,
/proc/, inotify, prctl, accept4, SOCK_CLOEXEC, MSG_NOSIGNAL, O_PATH,
sendfile, getrandom, memfd, epoll) outside code the Mac never compiles: a
branch under __linux__, or the other branch of an __APPLE__ (or Q_OS_MACOS)
test. Comments are not read; string literals are ("/proc/self/exe").

Shell scripts (*.sh, and files starting with a sh or bash "#!" line), all of
which run on the Mac except .ci/run: GNU-only forms (date's %N, sed -i
without a suffix, stat -c, readlink -f, find -printf, grep -P, timeout
without a `command -v timeout` test just before it) and what macOS's bash
3.2 lacks (associative arrays, mapfile and readarray, ${v,,} and ${v^^},
namerefs, wait -n, |& and &>>, EPOCHREALTIME without a fallback, and
${a[@]} or ${a[*]} of an array once set to (), which set -u refuses there
when empty: write ${a[@]+"${a[@]}"}, ${a[*]:-}). Then shellcheck on every script, .ci/run included.

Without FILE, every file git tracks is checked. Prints each finding as
FILE:LINE: what; exits with 1 when there is any.
"""

import os
import re
import subprocess
import sys

CPP_SUFFIXES = (".cpp", ".hpp", ".h", ".c", ".mm")
LINUX_ONLY_ON_THE_MAC = {".ci/run"}

LINUX_CALLS = [
    (re.compile(r"\bst_[amc]tim\b"), "st_mtim (macOS: st_mtimespec; use base/SystemDifferences.hpp)"),
    (re.compile(r"\bpipe2\b"), "pipe2 (absent on macOS)"),
    (re.compile(r"/proc/"), "/proc/ (absent on macOS)"),
    (re.compile(r"\binotify"), "inotify (Linux only)"),
    (re.compile(r"\bprctl\b"), "prctl (Linux only)"),
    (re.compile(r"\baccept4\b"), "accept4 (Linux only)"),
    (re.compile(r"\bSOCK_CLOEXEC\b"), "SOCK_CLOEXEC (absent on macOS)"),
    (re.compile(r"\bMSG_NOSIGNAL\b"), "MSG_NOSIGNAL (absent on macOS: SO_NOSIGPIPE)"),
    (re.compile(r"\bO_PATH\b"), "O_PATH (Linux only)"),
    (re.compile(r"\bsendfile\b"), "sendfile (another signature on macOS)"),
    (re.compile(r"\bgetrandom\b"), "getrandom (absent on macOS)"),
    (re.compile(r"\bmemfd"), "memfd (Linux only)"),
    (re.compile(r"\bepoll"), "epoll (Linux only; macOS has kqueue)"),
]

# Conditions whose branch the Mac compiles never.
LINUX_TEST = re.compile(r"^(defined\s*\(?\s*__linux__\s*\)?|__linux__)(\s*&&.*)?$")
# Conditions true on the Mac: the branches after theirs it never compiles.
MAC_TEST = re.compile(r"^(defined\s*\(?\s*(__APPLE__|Q_OS_MACOS|Q_OS_MAC|Q_OS_DARWIN)\s*\)?"
                      r"|__APPLE__|Q_OS_MACOS|!\s*defined\s*\(?\s*__linux__\s*\)?)$")
NOT_MAC_TEST = re.compile(r"^!\s*defined\s*\(?\s*(__APPLE__|Q_OS_MACOS|Q_OS_MAC)\s*\)?$")

SHELL_FORMS = [
    (re.compile(r"\bdate\b[^|;&#]*%[0-9]*N"), "date %N (BSD date prints a literal N)"),
    (re.compile(r"\bsed\b([^|;&#]*\s)?(-i|--in-place)(\s|$)"),
     "sed -i without a suffix (BSD sed takes the next word as one: write sed -i.bak)"),
    (re.compile(r"\bstat\s+(-\w*\s+)*-c\b"), "stat -c (GNU; BSD stat uses -f)"),
    (re.compile(r"\breadlink\s+-[a-zA-Z]*f"), "readlink -f (GNU; resolve with cd and pwd -P)"),
    (re.compile(r"\bfind\b[^|;&#]*\s-printf\b"), "find -printf (GNU only)"),
    (re.compile(r"\bgrep\s+(-\w+\s+)*-[a-zA-Z]*P"), "grep -P (GNU only)"),
    (re.compile(r"\b(declare|local|typeset)\s+(-\w+\s+)*-[a-zA-Z]*A\b"),
     "associative array (bash 4; macOS has bash 3.2)"),
    (re.compile(r"\b(declare|local|typeset)\s+(-\w+\s+)*-[a-zA-Z]*n\b"), "nameref (bash 4.3)"),
    (re.compile(r"(^|[\s;(&|])(mapfile|readarray)\b"), "mapfile/readarray (bash 4)"),
    (re.compile(r"\$\{[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?(,,?|\^\^?)\}"), "${v,,}/${v^^} (bash 4)"),
    (re.compile(r"\bwait\s+-n\b"), "wait -n (bash 4.3)"),
    (re.compile(r"\|&|&>>"), "|& or &>> (bash 4)"),
]
TIMEOUT_CALL = re.compile(r"(^|[\s;(&|]|then\s|do\s)timeout\s")
TIMEOUT_TEST = re.compile(r"command\s+-v\s+timeout\b")
EPOCH_USE = re.compile(r"\$\{?EPOCH(REAL)?TIME\b")
EPOCH_TEST = re.compile(r"\$\{EPOCH(REAL)?TIME:-\}")
EMPTY_ARRAY = re.compile(r"(?:^|[\s;(])(?:local\s+)?([A-Za-z_][A-Za-z0-9_]*)=\(\s*\)")
ARRAY_USE = r'(?<!\+")(?<!\+)\$\{{{name}\[[@*]\]\}}'


def cpp_code_lines(text):
    """The lines of `text` without comments, strings kept."""
    out, i, n = [], 0, len(text)
    state = None  # None, "line", "block", '"', "'"
    current = []
    while i < n:
        c = text[i]
        nxt = text[i + 1] if i + 1 < n else ""
        if state is None:
            if c == "/" and nxt == "/":
                state = "line"
                i += 2
                continue
            if c == "/" and nxt == "*":
                state = "block"
                i += 2
                continue
            if c in "\"'":
                state = c
        elif state == "line":
            if c == "\n":
                state = None
            else:
                i += 1
                continue
        elif state == "block":
            if c == "*" and nxt == "/":
                state = None
                i += 2
                continue
            if c != "\n":
                i += 1
                continue
        elif c == "\\":
            current.append(c + nxt)
            i += 2
            continue
        elif c == state or c == "\n":
            state = None
        if c == "\n":
            out.append("".join(current))
            current = []
        else:
            current.append(c)
        i += 1
    out.append("".join(current))
    return out


def check_cpp(path, text):
    findings = []
    # One entry per open #if: [the Mac compiles the current branch?,
    # an earlier branch of this chain was the Mac's].
    stack = []
    for number, line in enumerate(cpp_code_lines(text), 1):
        directive = re.match(r"\s*#\s*(\w+)\s*(.*?)\s*$", line)
        if directive:
            word, condition = directive.groups()
            if word in ("if", "ifdef", "ifndef"):
                if word == "ifdef":
                    condition = "defined(%s)" % condition
                elif word == "ifndef":
                    condition = "!defined(%s)" % condition
                mac = bool(MAC_TEST.match(condition))
                stack.append([not (LINUX_TEST.match(condition) or NOT_MAC_TEST.match(condition)), mac])
            elif word == "elif" and stack:
                mac = bool(MAC_TEST.match(condition))
                stack[-1] = [not (LINUX_TEST.match(condition) or stack[-1][1]), stack[-1][1] or mac]
            elif word == "else" and stack:
                stack[-1] = [not stack[-1][1], stack[-1][1]]
            elif word == "endif" and stack:
                stack.pop()
            continue
        if not all(compiled for compiled, _ in stack):
            continue
        for pattern, what in LINUX_CALLS:
            if pattern.search(line):
                findings.append((path, number, what + ", outside a __linux__ branch"))
    return findings


def shell_code(line):
    """`line` without its comment (a # at the start of a word, outside quotes)."""
    quote = None
    for i, c in enumerate(line):
        if quote:
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
        elif c == "#" and (i == 0 or line[i - 1] in " \t;") and not line[i - 1:i + 2] == "$#":
            return line[:i]
    return line


def check_shell(path, text):
    findings = []
    lines = [shell_code(line) for line in text.split("\n")]
    maybe_empty = set()
    for line in lines:
        for match in EMPTY_ARRAY.finditer(line):
            maybe_empty.add(match.group(1))
    for number, line in enumerate(lines, 1):
        for pattern, what in SHELL_FORMS:
            if pattern.search(line):
                findings.append((path, number, what))
        if TIMEOUT_CALL.search(line) and not any(
                TIMEOUT_TEST.search(earlier) for earlier in lines[max(0, number - 4):number]):
            findings.append((path, number, "timeout without a `command -v timeout` test (not on macOS)"))
        if EPOCH_USE.search(line) and not EPOCH_TEST.search(line) and not any(
                EPOCH_TEST.search(earlier) for earlier in lines[max(0, number - 4):number]):
            findings.append((path, number, "EPOCHREALTIME without a fallback (bash 5)"))
        for name in sorted(maybe_empty):
            if re.search(ARRAY_USE.format(name=re.escape(name)), line):
                findings.append((path, number,
                                 '${%s[@]} of an array that may be empty (bash 3.2 with set -u '
                                 'calls it unbound): write ${%s[@]+"${%s[@]}"}' % (name, name, name)))
    return findings


def is_shell_script(path, text):
    if path.endswith(".sh"):
        return True
    first = text.split("\n", 1)[0]
    return bool(re.match(r"#!.*\b(ba)?sh\b", first))


def project_files():
    """The files git tracks; outside a git checkout, every file but builds'."""
    listing = subprocess.run(["git", "ls-files"], capture_output=True, text=True)
    if listing.returncode == 0:
        return listing.stdout.split()
    found = []
    for folder, folders, files in os.walk("."):
        folders[:] = [name for name in folders if name not in (".git", "build")]
        found += [os.path.relpath(os.path.join(folder, name)) for name in files]
    return found


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.chdir(root)
    paths = argv or project_files()
    findings, scripts = [], []
    for path in paths:
        if not os.path.isfile(path):
            continue
        try:
            with open(path, encoding="utf-8") as file:
                text = file.read()
        except UnicodeDecodeError:
            continue
        if path.endswith(CPP_SUFFIXES):
            findings += check_cpp(path, text)
        elif is_shell_script(path, text):
            scripts.append(path)
            if path not in LINUX_ONLY_ON_THE_MAC:
                findings += check_shell(path, text)
    for path, number, what in findings:
        print("%s:%d: %s" % (path, number, what))
    status = 1 if findings else 0
    if scripts:
        shellcheck = subprocess.run(["shellcheck", "-x"] + scripts)
        if shellcheck.returncode != 0:
            status = 1
    print("portability: %d files, %d scripts, %s" % (
        len(paths), len(scripts), "refused" if status else "nothing Linux-only found"))
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
