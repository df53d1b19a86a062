#!/usr/bin/env python3
"""Writes a generated RTF document of a given size for timing the RTF reader.

Usage: gen_rtf.py MEGABYTES OUTPUT

The document has the parts real files have: a font table, a colour table and a style sheet
(suppressed), then paragraphs of words with \\'xx escapes (cp1252), \\uN? Unicode escapes
(Cyrillic, Greek, and negative values above U+7FFF), groups of character formatting, tabs,
special-character words and \\par. The content is deterministic, so runs compare.
"""
import sys

HEADER = (
    b"{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1"
    b"{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}{\\f1\\fswiss\\fcharset0 Arial;}"
    b"{\\f2\\fmodern\\fcharset204 Courier New Cyr;}}\n"
    b"{\\colortbl;\\red0\\green0\\blue0;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}\n"
    b"{\\stylesheet{\\s0\\snext0\\f0\\fs24 Normal;}{\\s1\\sbasedon0\\snext0\\b\\fs32 Heading 1;}}\n"
    b"{\\info{\\author bench}{\\title generated}}\n"
)

WORDS = [
    b"the", b"quick", b"brown", b"fox", b"jumps", b"over", b"lazy", b"dog", b"archive",
    b"caf\\'e9", b"na\\'efve", b"r\\'e9sum\\'e9", b"\\'c0 la carte", b"Stra\\'dfe",
    b"\\u1055?\\u1088?\\u1080?\\u1074?\\u1077?\\u1090?",
    b"\\u954?\\u945?\\u955?\\u951?\\u956?\\u941?\\u961?\\u945?",
    b"\\u-29739?\\u-24835?", b"{\\b bold}", b"{\\i\\f1 italic {\\ul nested}}",
    b"\\ldblquote quoted\\rdblquote", b"\\endash", b"\\tab", b"{\\cf2 red}",
]


def paragraph(state):
    out = [b"\\pard\\plain\\s0\\f0\\fs24 "]
    for _ in range(12 + state[0] % 24):
        state[0] = (state[0] * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(WORDS[(state[0] >> 16) % len(WORDS)])
        out.append(b" ")
    out.append(b"\\par\n")
    return b"".join(out)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_rtf.py MEGABYTES OUTPUT")
    target = int(float(sys.argv[1]) * 1024 * 1024)
    state = [12345]
    # A block of paragraphs repeated: the content varies inside a block, and writing stays fast.
    block = b"".join(paragraph(state) for _ in range(2000))
    with open(sys.argv[2], "wb") as f:
        f.write(HEADER)
        written = len(HEADER)
        while written + len(block) + 2 <= target:
            f.write(block)
            written += len(block)
        while written + 2 < target:
            p = paragraph(state)
            if written + len(p) + 2 > target:
                break
            f.write(p)
            written += len(p)
        f.write(b"}\n")


if __name__ == "__main__":
    main()
