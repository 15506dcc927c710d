#!/usr/bin/env python3
"""The peer: the page pipeline done the plain way in Python 3, on the same pages and lists.

For each saved page and list size: decode the page, re.findall of the marker pattern, strip
each name, `name in box`, append " @name" and a line break after every fifth count of a page.
Prints JSON: {"page name": {"list bytes": median microseconds per page}}.
"""
import argparse
import json
import os
import re
import statistics
import time

LIST_SIZES = [0, 64 * 1024, 1024 * 1024, 8 * 1024 * 1024]
PATTERN = re.compile('主题作者:(.*?)"', re.IGNORECASE)


def filler_list(size):
    """The same list of other names the C++ benchmark builds (bench/benchdata.cpp)."""
    stems = ["user", "用户", "吧友_", "贴吧用户_aD", "Lol玩家"]
    parts, length, line, i = [], 0, "", 0
    while length < size:
        line += " @" + stems[i % 5] + str(i * 7919 % 1000003)
        if i % 5 == 4:
            line += "\r\n"
            parts.append(line)
            length += len(line.encode("gb18030"))
            line = ""
        i += 1
    return "".join(parts)


def pipeline(page_bytes, box):
    text = page_bytes.decode("utf-8")
    counter = 1
    for member in PATTERN.findall(text):
        name = member.strip(" \u3000")
        if name not in box and member:
            box += " @" + name
            counter += 1
        if counter % 5 == 0:
            box += "\r\n"
    return box


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pages", required=True)
    parser.add_argument("--iterations", type=int, default=20)
    args = parser.parse_args()
    results = {}
    for file in sorted(os.listdir(args.pages)):
        if not file.endswith(".html"):
            continue
        page = open(os.path.join(args.pages, file), "rb").read()
        results[file[:-5]] = {}
        for size in LIST_SIZES:
            base = filler_list(size)
            times = []
            for _ in range(args.iterations):
                box = (base + ".")[:-1]  # a box of its own, as a plain script holds one
                start = time.perf_counter()
                box = pipeline(page, box)
                times.append(time.perf_counter() - start)
                del box
            results[file[:-5]][str(size)] = statistics.median(times) * 1e6
    print(json.dumps(results))


if __name__ == "__main__":
    main()
