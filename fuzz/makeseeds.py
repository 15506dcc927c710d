#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs from the saved listing pages (tests/fixtures/pages).

Run it again when the pages or an input layout change; the seeds are kept in fuzz/seeds."""
import pathlib
import re

ROOT = pathlib.Path(__file__).resolve().parent
PAGES = ROOT.parent / "tests" / "fixtures" / "pages"
MARKER = "主题作者:"


def gbk(text):
    # The list's code page; characters it lacks take their GB18030 four-byte forms.
    return text.encode("gb18030")


def write(target, name, data):
    folder = ROOT / "seeds" / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def main():
    pages = sorted(PAGES.glob("*.html"))
    for index, page in enumerate(pages):
        raw = page.read_bytes()
        text = raw.decode("utf-8", errors="replace")
        at = max(text.find(MARKER), 0)
        around = text[max(at - 300, 0) : at + 1200]
        names = re.findall(MARKER + r'([^"]*)"', text)[:4] or ["lol"]
        stem = f"page{index}"

        write("codec_fuzz", stem + "-gbk", gbk(around).replace(b"\n", b"\r\n", 3))
        write("codec_fuzz", stem + "-utf8", around.encode("utf-8"))

        line = gbk("\u3000 " + " @".join(names) + "  \u3000")
        write("textservices_fuzz", stem, bytes([index * 3 % 16, 1, 0xFF]) + line + b"\0"
              + gbk(names[-1]) + b"\0" + gbk(" @x"))

        write("textbetween_fuzz", stem, b"\0" + gbk(MARKER) + b"\0\"\0" + gbk(around))

        write("forumname_fuzz", stem, bytes([index % 2]) + gbk(names[0]))

        head = raw[:1500]
        content_types = [b"text/html; charset=UTF-8", b"", b"text/html; charset=gbk",
                         b"text/html;charset=\"utf-16\"", b"application/octet-stream"]
        write("pagecharset_fuzz", stem, content_types[index % len(content_types)] + b"\0" + head)

    write("codec_fuzz", "breaks", b"a\r\nb\nc\rd\r\r\n\n\x81\r\n\xa1\xa1\x81\x30\x81\x30\xff")
    for index, name in enumerate(["python", "河南理工大学", "盗墓笔记", "ლ🌸名"]):
        write("forumname_fuzz", f"name{index}", b"\1" + gbk(name))
    write("pagecharset_fuzz", "meta-gbk", b"\0<html><head><meta charset=\"GBK\"></head>"
          + gbk("<body>主题作者:名</body>"))


if __name__ == "__main__":
    main()
