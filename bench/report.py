#!/usr/bin/env python3
"""Prints the benchmark results of one run as Markdown tables (see scripts/bench.sh)."""
import json
import os
import platform
import sys


def load(path):
    if not os.path.exists(path):
        return None
    with open(path) as f:
        return json.load(f)


def medians(results):
    """name -> median real time in microseconds, from Google Benchmark's JSON."""
    out = {}
    for b in results["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b["time_unit"]]
        name = b.get("run_name", b["name"]).split("/iterations:")[0]
        out[name] = b["real_time"] * scale
        if "bytes_per_second" in b:
            out[name + "#Bps"] = b["bytes_per_second"]
    return out


def machine():
    cpu = "?"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
        mem = [l for l in open("/proc/meminfo") if l.startswith("MemTotal")][0].split()[1]
        mem = "%.0f GiB" % (int(mem) / 1024 / 1024)
        osname = [l for l in open("/etc/os-release") if l.startswith("PRETTY_NAME")][0]
        osname = osname.split("=", 1)[1].strip().strip('"')
    except (OSError, IndexError):
        mem, osname = "?", platform.platform()
    return "%s, %d cores, %s, %s, Python %s" % (cpu, os.cpu_count(), mem, osname,
                                               platform.python_version())


def main():
    out = sys.argv[1]
    pipeline = medians(load(os.path.join(out, "pipeline.json")))
    parts = medians(load(os.path.join(out, "parts.json")))
    peer = load(os.path.join(out, "peer.json"))
    program = load(os.path.join(out, "program.json"))

    print("Machine: " + machine())
    print()
    print("Page pipeline, per page (median µs): page bytes → page text in the list's code page →"
          " author names → strip, membership test, append into the list box (offscreen) with the"
          " box already holding L bytes of other names.")
    print()
    print("| page | L | ours | Python peer | peer ÷ ours |")
    print("|---|---|---:|---:|---:|")
    growth = []
    for page, sizes in peer.items():
        base = None
        for size, peer_us in sizes.items():
            kib = int(size) // 1024
            ours = pipeline.get("Pipeline/%s/list:%dKiB" % (page, kib))
            if ours is None:
                continue
            if base is None:
                base = ours
            print("| %s | %s | %.0f | %.0f | %.1f× |" % (
                page.replace("frs-utf8-", ""), "%d KiB" % kib if kib < 1024 else
                "%d MiB" % (kib // 1024), ours, peer_us, peer_us / ours))
            if kib == 8192:
                growth.append((page, ours / base))
    print()
    print("Cost per page at 8 MiB of list ÷ at 0: " +
          ", ".join("%s %.1f×" % (p.replace("frs-utf8-", ""), g) for p, g in growth))
    print()
    print("The run's event point after a page (painting the box with the new names, offscreen):"
          " " + ", ".join("L %s: %.0f µs" % (n.split(":")[1], v)
                          for n, v in pipeline.items() if n.startswith("EventPoint")))
    print()
    print("Parts alone (median):")
    print()
    print("| conversion | input | ours | iconv | iconv ÷ ours |")
    print("|---|---|---:|---:|---:|")
    labels = {0: "page", 1: "names", 2: "emoji"}
    for conv, title in [("Utf8ToListCodePage", "UTF-8 → list code page"),
                        ("ListCodePageToUtf16", "list code page → UTF-16"),
                        ("Utf16ToListCodePage", "UTF-16 → list code page")]:
        for i, label in labels.items():
            ours = parts.get("%s/%d" % (conv, i))
            ref = parts.get("%sIconv/%d" % (conv, i))
            if ours is None or ref is None:
                continue
            rate = parts.get("%s/%d#Bps" % (conv, i), 0) / 1e9
            print("| %s | %s | %.0f µs (%.2f GB/s) | %.0f µs | %.1f× |" % (
                title, label, ours, rate, ref, ref / ours))
    print()
    print("| part | median |")
    print("|---|---:|")
    for name, title in [("ExtractAuthors/2", "extractBetween on the lol pn0 page"),
                        ("SearchText1MiB", "searchText over 1 MiB (name absent)"),
                        ("IndexedMembership8MiB", "membership test in an 8 MiB list (two names)"),
                        ("EncodeForumName", "encodeForumName")]:
        if name in parts:
            print("| %s | %.2f µs |" % (title, parts[name]))
    if program:
        print()
        print("Whole program:")
        print()
        print("| case | figure |")
        print("|---|---|")
        for row in program.get("rows", []):
            print("| %s | %s |" % (row[0], row[1]))


if __name__ == "__main__":
    main()
