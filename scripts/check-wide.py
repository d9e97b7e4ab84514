#!/usr/bin/env python3
"""Checks that the programs reach Windows through the wide ("W") interfaces:
no function, structure or constant of the system's headers that has an "A"
and a "W" form is used in its "A" form, and no program reads __argv, outside
winutil/WideText and the allow-list (scripts/check-wide-allow.txt: one
"path name" a line, then why). The "A" names are taken from mingw-w64's own
headers, so the check knows every pair the compiler does. Prints each fault
and exits 1 when there is one."""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The program code; the tests seed narrow names on purpose and are not checked.
FOLDERS = ("src", "demo", "bench", "fuzz", "tests")
# The one place where text crosses between UTF-8 and UTF-16.
HELPER = ("src/winutil/WideText.h", "src/winutil/WideText.cpp")
HEADER_FOLDERS = ("/usr/share/mingw-w64/include", "/usr/x86_64-w64-mingw32/include")
IDENTIFIER = re.compile(r"\b[A-Za-z_][A-Za-z0-9_]*\b")
# Comments, texts and characters, in one pass so that each hides the others.
NOT_CODE = re.compile(r"""//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*'""", re.S)
ALWAYS = {"__argv": "__wargv or ProgramArguments", "_pgmptr": "ModuleFileName"}


def narrow_names():
    """Every name of the system's headers ending in A whose W twin exists."""
    names = set()
    for folder in HEADER_FOLDERS:
        if not os.path.isdir(folder):
            continue
        for base, _, files in os.walk(folder):
            for name in files:
                if name.endswith(".h"):
                    with open(os.path.join(base, name), encoding="latin-1") as f:
                        names.update(IDENTIFIER.findall(f.read()))
        if names:
            break
    return {n for n in names if len(n) > 2 and n.endswith("A") and n[:-1] + "W" in names}


def allowed():
    path = os.path.join(ROOT, "scripts", "check-wide-allow.txt")
    entries = set()
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            parts = line.split(None, 2)
            if len(parts) < 3:
                sys.exit(f"{path}:{number}: needs a path, a name and the reason")
            entries.add((parts[0], parts[1]))
    return entries


def main():
    narrow = narrow_names()
    if not narrow:
        sys.exit("check-wide: no mingw-w64 headers found")
    allow = allowed()
    used = set()
    faults = []
    for folder in FOLDERS:
        for base, _, files in os.walk(os.path.join(ROOT, folder)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".c")):
                    continue
                path = os.path.join(base, name)
                rel = os.path.relpath(path, ROOT).replace(os.sep, "/")
                if rel in HELPER:
                    continue
                with open(path, encoding="utf-8") as f:
                    text = NOT_CODE.sub(lambda m: "\n" * m.group(0).count("\n"), f.read())
                for number, line in enumerate(text.splitlines(), 1):
                    for word in IDENTIFIER.findall(line):
                        if word not in narrow and word not in ALWAYS:
                            continue
                        if (rel, word) in allow:
                            used.add((rel, word))
                            continue
                        hint = ALWAYS.get(word, word[:-1] + "W")
                        faults.append(f"{rel}:{number}: {word} (use {hint})")
    for rel, word in sorted(allow - used):
        faults.append(f"scripts/check-wide-allow.txt: {rel} {word} is no longer used; remove the line")
    for fault in faults:
        print(fault)
    print(f"wide calls: {len(narrow)} narrow names known, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
