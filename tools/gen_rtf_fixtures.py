#!/usr/bin/env python3
"""Writes the RTF fixtures of tests/data/good that exercise fonts, code pages and structure.

    gen_rtf_fixtures.py [DIR]     (default: the repository's tests/data/good)

rtf_fonts.rtf: a cp1252 document whose fonts carry their own charsets (Greek, Cyrillic, Central
European, Japanese with escaped and literal trail bytes, Chinese GBK and Big5, Korean); its text is
rtf_fonts.txt.  rtf_structure.rtf: \\pca, \\bin data holding braces, a table with a nested cell,
\\line, \\* in mid-group, \\tc, a field and a footnote.  The escapes come from
Python's codecs; only the standard library is used.
"""
import os
import sys


def escaped(text, codec):
    return "".join("\\'%02x" % b for b in text.encode(codec))


def literal_trails(text, codec):
    """Lead bytes escaped, trail bytes that are ASCII letters written as they are."""
    data = text.encode(codec)
    out = []
    for i in range(0, len(data), 2):
        out.append("\\'%02x" % data[i])
        trail = data[i + 1]
        out.append(chr(trail) if trail < 0x80 and chr(trail).isalpha() else "\\'%02x" % trail)
    return "".join(out)


FONTS_HEADER = (
    r"{\rtf1\ansi\ansicpg1252\deff0\uc1"
    r"{\fonttbl{\f0\froman\fcharset0 Times New Roman;}{\f1\fswiss\fcharset161 Arial Greek;}"
    r"{\f2\fswiss\fcharset204 Arial Cyr;}{\f3\fnil\fcharset128 MS Mincho;}"
    r"{\f4\fnil\fcharset134 SimSun;}{\f5\fnil\fcharset136 MingLiU;}"
    r"{\f6\fnil\fcharset129 Batang;}{\f7\fnil\fcharset238 Arial CE;}}" "\n"
    r"{\colortbl;\red0\green0\blue0;}" "\n"
    r"{\info{\title Fonts and code pages}{\author dorvex tests}}" "\n"
)

# (label, font, text, codec, writer); the expected line is "label: text."
FONT_LINES = [
    ("Greek", 1, "Καλημέρα κόσμε", "cp1253", escaped),
    ("Cyrillic", 2, "Здравствуй, мир", "cp1251", escaped),
    ("Central European", 7, "Příliš žluťoučký kůň", "cp1250", escaped),
    ("Japanese, escaped", 3, "日本語の文書", "cp932", escaped),
    ("Japanese, literal trail bytes", 3, "テキストとソ表", "cp932", literal_trails),
    ("Chinese (GBK)", 4, "简体中文", "cp936", escaped),
    ("Chinese (Big5)", 5, "繁體中文", "cp950", escaped),
    ("Korean", 6, "한국어 문서", "cp949", escaped),
]


def fonts_document():
    body = [r"\pard\plain\f0 Western: caf\'e9, na\'efve, \'80 5.\par"]
    text = ["Western: café, naïve, € 5."]
    for label, font, line, codec, write in FONT_LINES:
        body.append(r"\pard %s: {\f%d %s}.\par" % (label, font, write(line, codec)))
        text.append("%s:  %s." % (label, line))  # a group after \par begins with a space
    body.append(r"\pard Raw bytes: {\f3 RAW}.\par")
    text.append("Raw bytes:  日付.")
    body.append(r"\pard Back in the default font: \'e9t\'e9.\par")
    text.append("Back in the default font: été.")
    rtf = (FONTS_HEADER + "\n".join(body) + "\n}\n").encode("ascii")
    # Lead and trail bytes as raw bytes of the file, as some writers leave them.
    rtf = rtf.replace(b"RAW", "日付".encode("cp932"))
    return rtf, ("\n".join(text) + "\n").encode("utf-8")


def structure_document():
    return (
        rb"{\rtf1\pca\deff0{\fonttbl{\f0\fmodern Courier;}}" b"\n"
        rb"\pard\plain DOS text: \'82t\'82, \'9b.\par" b"\n"
        rb"\pard Binary data: before{\pict\wmetafile8\bin8 }{\}{" b"\x00\xff{"
        rb"}after.\par" b"\n"
        rb"\pard A table:\par" b"\n"
        rb"\trowd\cellx1000\cellx2000\intbl one\cell two\cell\row" b"\n"
        rb"\trowd\cellx1000\cellx2000\intbl outer\nestcell"
        rb"{\*\nesttableprops\trowd\cellx500\nestrow}inner\cell end\cell\row" b"\n"
        rb"\pard Two lines:\line second line.\par" b"\n"
        rb"\pard Mid-group star: {\b\*bold} kept.\par" b"\n"
        rb"\pard Contents entry hidden{\tc Table entry}{\tcn no page}.\par" b"\n"
        rb'\pard Field: {\field{\*\fldinst HYPERLINK "http://example.org/"}'
        rb"{\fldrslt link text}}.\par" b"\n"
        rb"\pard Footnote{\*\footnote \pard\plain footnote text.}.\par" b"\n"
        b"}\n"
    )


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    directory = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "tests", "data", "good")
    rtf, text = fonts_document()
    files = {"rtf_fonts.rtf": rtf, "rtf_fonts.txt": text, "rtf_structure.rtf": structure_document()}
    for name, content in files.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(content)
    return 0


if __name__ == "__main__":
    sys.exit(main())
