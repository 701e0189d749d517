#!/usr/bin/env python3
"""Checks that every message a program can print is in its usage reference or
its manual page.

A message is put together from the text of string literals in the program's
sources and the values filled into them. Every literal that holds words (two words or more,
beside what printf fills in) is split where a value is filled in; its pieces
must stand in the reference in that order: in the usage reference, inside one
code span of the sections that list messages, where a `<placeholder>` or
`0x..` stands for any value; in a manual page, inside one paragraph. A literal
the reference lacks is printed with its file and line, and the check exits 1.

Some files print no messages but listings, help, JSON or pictures, which
other checks cover; they are left out (LISTINGS). A literal that is no
message (a format string for a number, a file mode) is left out by its
shape: it needs two words of letters.

The reference is the usage reference in Markdown, or a manual page, which is
read as groff renders it; without groff the check ends with status 77.

usage: check_messages.py SOURCE_ROOT REFERENCE"""
import os
import re
import subprocess
import sys

# Files whose literals are listings, help lines, JSON keys or SVG, not messages.
LISTINGS = {
    "app/option_table.cpp",  # the help text; the option check compares it with the docs
    "info/report_text.cpp",  # the --info listing
    "info/report_json.cpp",  # the JSON listing, described field by field
    "info/memory_map.cpp",  # the SVG picture
    "util/json_writer.cpp",
    "util/sha256.cpp",
}

# The sections of the reference whose code spans are messages.
SECTIONS = ("## What `--info` checks", "## Messages and exit status", "## Reader diagnostics")

PRINTF = re.compile(r"(?:0x)?%[-+ #0]*(?:\d+|\*)?(?:\.(?:\d+|\*))?(?:hh|h|ll|l|z|j|t|L)?[diouxXcsfgeEp]")
PLACEHOLDER = re.compile(r"(?:0x)?<[^<>`]+>|(?<![0-9A-Za-z])0x\.{2,3}(?![0-9A-Za-z])")
WORDS = re.compile(r"[A-Za-z]{2,}[ ,:;()'-]+[A-Za-z]{2,}")
HOLE = "\x00"
SKIPPED = 77


def literals(text):
    """Yields (line, text) of each string literal, adjacent literals joined,
    comments and character literals left out."""
    i, line, n = 0, 1, len(text)
    current, start = None, 0
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
        elif text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            line += text.count("\n", i, end)
            i = end
        elif c == "'":
            i += 1
            while i < n and text[i] != "'":
                i += 2 if text[i] == "\\" else 1
            i += 1
        elif c == '"' and not text[max(0, i - 1)] == "R":
            j = i + 1
            body = []
            while j < n and text[j] != '"':
                if text[j] == "\\":
                    escape = text[j + 1]
                    body.append({"n": "\n", "t": "\t", '"': '"', "\\": "\\"}.get(escape, "\\" + escape))
                    j += 2
                else:
                    body.append(text[j])
                    j += 1
            if current is None:
                current, start, context = "", line, text[max(0, i - 200):i]
            current += "".join(body)
            i = j + 1
            # Joined with the next literal when only blanks stand between them.
            k = i
            while k < n and text[k] in " \t\r\n":
                k += 1
            if k >= n or text[k] != '"':
                # What the compiler reads (a static assertion, a target's
                # instruction set) is no message.
                if not re.search(r"static_assert\s*\([^;{}]*$|target\s*\(\s*$", context):
                    yield start, current
                current = None
            line += text.count("\n", i, k)
            i = k
        else:
            i += 1


def pieces(message):
    """The fixed parts of a literal, without what printf fills in."""
    holed = PRINTF.sub(HOLE, message.replace("%%", "%"))
    return [p.strip() for p in holed.split(HOLE) if len(p.strip()) >= 2]


def reference_spans(path):
    """The code spans of the message sections of a Markdown reference."""
    with open(path, encoding="utf-8") as docs:
        text = docs.read()
    sections = [s for s in re.split(r"(?m)^(?=## )", text) if s.startswith(SECTIONS)]
    # A reference without such sections (the launcher's) lists its few
    # messages where it describes what the program does.
    spans = re.findall(r"`([^`\n]+)`", "\n".join(sections) if sections else text)
    return [PLACEHOLDER.sub(HOLE, span) for span in spans]


def manual_spans(path):
    """The paragraphs of a manual page from its DESCRIPTION to its EXAMPLES, each
    rendered on one line; None when groff is missing. The placeholders there
    are words in italics, which the pieces of a message may stand around."""
    try:
        text = subprocess.run(["groff", "-man", "-Tascii", "-rLL=4000n", "-P-c", "-P-b", "-P-u", path],
                              check=True, capture_output=True, text=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    text = text[text.find("\nDESCRIPTION"):text.find("\nEXAMPLES")]
    return [line.strip() for line in text.splitlines() if line.strip()]


def in_order(parts, span):
    at = 0
    for part in parts:
        found = span.find(part, at)
        if found < 0:
            return False
        at = found + len(part)
    return True


def main(root, reference):
    spans = reference_spans(reference) if reference.endswith(".md") else manual_spans(reference)
    if spans is None:
        print(f"skipped: groff is needed to read {reference}")
        return SKIPPED
    missing = []
    for folder, _, files in os.walk(root):
        for name in sorted(files):
            if not name.endswith(".cpp"):
                continue
            path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            if path in LISTINGS:
                continue
            with open(os.path.join(root, path), encoding="utf-8") as source:
                text = source.read()
            for line, message in literals(text):
                parts = pieces(message)
                if not WORDS.search(" ".join(parts)):
                    continue
                if not any(in_order(parts, span) for span in spans):
                    missing.append(f'{path}:{line}: "{message}"')
    for entry in missing:
        print(f"not in {os.path.basename(reference)}: {entry}")
    return 1 if missing else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    sys.exit(main(sys.argv[1], sys.argv[2]))
