#!/usr/bin/env python3
"""Measures the built program as a whole, driven like a user on a virtual display.

    python3 scripts/bench-program.py --program BUILD/app/pennaro --pages tests/fixtures/pages \
        [--json FILE] [--runs 5]

- start time: from starting the program to its main window being visible, with an empty list
  and with an 8 MiB list file (median and max of --runs starts, after one untimed warm-up);
- a 100-page extraction run against the saved pages served in a network namespace
  (scripts/netns-service.sh): peak resident memory of the process and the run's wall time.

Prints a Markdown table on stdout. Needs root (network namespace), Xvfb, openbox, xdotool,
x11-utils, GNU time as /usr/bin/time and iproute2; scripts/setup.sh installs them.
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
NETNS_SCRIPT = HERE / "netns-service.sh"
GNU_TIME = "/usr/bin/time"

# Without the anchor the search also finds the program's hidden helper windows.
MAIN_TITLE = r"^PennaroV1\.1"
PAGE_COUNT_TITLE = "^请输入你要提取的页数"
PAGE_OFFSET_TITLE = "^从第几页数起："
# Client-area rectangle of the "提取" button.
EXTRACT_BUTTON = (288, 48, 80, 32)

FORUM_NAME = "lol"
PAGES = 100
LIST_BYTES = 8 * 1024 * 1024
POLL_S = 0.005
WINDOW_TIMEOUT_S = 60.0
RUN_TIMEOUT_S = 120.0
EXIT_TIMEOUT_S = 30.0
# Pages the namespace's server answers with; they must be present for the run to mean anything.
SERVED_PAGES = (
    "frs-utf8-2020-lol-pn0-plain.html",
    "frs-utf8-2020-lol-pn50-plain.html",
    "frs-utf8-2016-python-plain.html",
    "frs-utf8-2018-henanligong-bigpipe.html",
    "frs-utf8-2024-daomubiji-bigpipe.html",
)


class BenchError(Exception):
    pass


def log(message):
    print("bench-program: " + message, file=sys.stderr, flush=True)


def check_requirements(program, pages):
    problems = []
    if os.geteuid() != 0:
        problems.append("must run as root (it creates a network namespace)")
    for tool, package in (
        ("Xvfb", "xvfb"),
        ("openbox", "openbox"),
        ("xdotool", "xdotool"),
        ("xwininfo", "x11-utils"),
        ("xdpyinfo", "x11-utils"),
        ("xprop", "x11-utils"),
        ("ip", "iproute2"),
        ("bash", "bash"),
    ):
        if shutil.which(tool) is None:
            problems.append("%s not found (package %s)" % (tool, package))
    if not os.access(GNU_TIME, os.X_OK):
        problems.append("%s not found (package time)" % GNU_TIME)
    packages_missing = bool(problems) and not (len(problems) == 1 and os.geteuid() != 0)
    if not NETNS_SCRIPT.is_file():
        problems.append("%s is missing" % NETNS_SCRIPT)
    if not (program.is_file() and os.access(program, os.X_OK)):
        problems.append("program %s is not an executable file (build it first)" % program)
    served_dir = (HERE.parent / "tests" / "fixtures" / "pages").resolve()
    for d in {pages.resolve(), served_dir}:
        missing = [p for p in SERVED_PAGES if not (d / p).is_file()]
        if missing:
            problems.append("pages missing in %s: %s" % (d, ", ".join(missing)))
    if problems:
        hint = "\n  (scripts/setup.sh installs the packages)" if packages_missing else ""
        raise BenchError("cannot run:\n  " + "\n  ".join(problems) + hint)
    if pages.resolve() != served_dir:
        log("note: netns-service.sh serves the pages in %s, not %s" % (served_dir, pages))


def make_list(size):
    """Lines of five " @name" mentions joined by CRLF, in GB18030, no larger than size bytes."""
    rng = random.Random(936)
    ascii_chars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"

    def ascii_part(lo, hi):
        return "".join(rng.choices(ascii_chars, k=rng.randint(lo, hi)))

    cjk_chars = "".join(map(chr, range(0x4E00, 0x9FA6)))  # all two-byte forms in GBK

    def cjk_part(lo, hi):
        return "".join(rng.choices(cjk_chars, k=rng.randint(lo, hi)))

    shapes = (
        lambda: ascii_part(4, 14),
        lambda: cjk_part(2, 7),
        lambda: cjk_part(1, 4) + ascii_part(1, 6),
        lambda: ascii_part(1, 6) + cjk_part(1, 4),
        lambda: cjk_part(1, 3) + ascii_part(1, 3) + cjk_part(1, 3),
    )
    lines = []
    total = 0
    while True:
        line = "".join(" @" + rng.choice(shapes)() for _ in range(5)).encode("gb18030")
        added = len(line) + (2 if lines else 0)
        if total + added > size:
            break
        lines.append(line)
        total += added
    return b"\r\n".join(lines)


def median(values):
    return statistics.median(values)


class Bench:
    def __init__(self, program, runs):
        self.program = program
        self.runs = runs
        self.display = None
        self.xvfb = None
        self.openbox = None
        self.netns = None
        self.netns_up = False
        self.env = None
        self.live = []  # processes of ours that may still run

    # --- processes --------------------------------------------------------------------------

    def spawn(self, args, **kwargs):
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        # Its own process group, so that stopping it also stops what it started (time's child).
        proc = subprocess.Popen(args, start_new_session=True, **kwargs)
        self.live.append(proc)
        return proc

    def stop(self, proc, grace_s=3.0):
        if proc is None:
            return
        if proc.poll() is None:
            for sig in (signal.SIGTERM, signal.SIGKILL):
                try:
                    os.killpg(proc.pid, sig)
                except ProcessLookupError:
                    break
                try:
                    proc.wait(grace_s)
                    break
                except subprocess.TimeoutExpired:
                    continue
        if proc in self.live:
            self.live.remove(proc)

    # --- display ----------------------------------------------------------------------------

    def x(self, *args, timeout=10.0, check=True):
        try:
            res = subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL,
                                 capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise BenchError("%s timed out" % " ".join(args))
        if check and res.returncode != 0:
            raise BenchError("%s failed: %s" % (" ".join(args), res.stderr.strip()))
        return res

    def start_display(self):
        candidates = [n for n in list(range(97, 89, -1)) + list(range(100, 120)) if n != 99]
        for n in candidates:
            if Path("/tmp/.X%d-lock" % n).exists() or Path("/tmp/.X11-unix/X%d" % n).exists():
                continue
            display = ":%d" % n
            env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb")
            env.pop("WAYLAND_DISPLAY", None)
            self.env = env
            # -noreset: by default the server resets when its last client (the readiness probe)
            # leaves, and refuses connections meanwhile.
            proc = self.spawn(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                               "-noreset"])
            deadline = time.monotonic() + 10.0
            while time.monotonic() < deadline and proc.poll() is None:
                if self.x("xdpyinfo", check=False).returncode == 0:
                    self.display, self.xvfb = display, proc
                    break
                time.sleep(0.05)
            if self.xvfb is not None:
                break
            self.stop(proc)  # taken meanwhile, or failed: try the next number
        if self.xvfb is None:
            raise BenchError("could not start Xvfb on any free display")
        with tempfile.TemporaryFile() as err:
            # openbox writes its messages on stdout.
            self.openbox = self.spawn(["openbox"], env=self.env, stdout=err, stderr=err)
            deadline = time.monotonic() + 10.0
            while True:
                res = self.x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False)
                if "window id" in res.stdout:
                    break
                if self.openbox.poll() is not None or time.monotonic() > deadline:
                    err.seek(0)
                    raise BenchError("openbox did not start on %s: %s" % (
                        self.display, err.read().decode(errors="replace").strip()))
                time.sleep(0.05)
        log("display %s with openbox" % self.display)

    def visible_windows(self, title):
        res = self.x("xdotool", "search", "--onlyvisible", "--name", title, check=False)
        return [int(w) for w in res.stdout.split()]

    def wait_window(self, title, proc, timeout=WINDOW_TIMEOUT_S):
        """Polls until one visible window has the title; returns (id, monotonic time seen)."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.visible_windows(title)
            seen = time.monotonic()
            if len(found) == 1:
                return found[0], seen
            if len(found) > 1:
                raise BenchError("%d visible windows match %s" % (len(found), title))
            if proc.poll() is not None:
                raise BenchError("the program ended (exit %s) before a window %s was shown"
                                 % (proc.returncode, title))
            if seen > deadline:
                raise BenchError("no window %s within %.0f s" % (title, timeout))
            time.sleep(POLL_S)

    def client_origin(self, wid):
        out = self.x("xwininfo", "-id", str(wid)).stdout
        mx = re.search(r"Absolute upper-left X:\s+(-?\d+)", out)
        my = re.search(r"Absolute upper-left Y:\s+(-?\d+)", out)
        if not (mx and my):
            raise BenchError("cannot read the position of window %d" % wid)
        return int(mx.group(1)), int(my.group(1))

    def activate(self, wid):
        self.x("xdotool", "windowactivate", "--sync", str(wid))

    def keys(self, wid, *keys):
        # Real key events (XTEST) to the focused window: synthetic ones are ignored by Qt.
        self.activate(wid)
        self.x("xdotool", "key", *keys)

    def type_text(self, wid, text):
        self.activate(wid)
        self.x("xdotool", "type", "--delay", "20", text)

    def close_program(self, proc, wid):
        """Closes the window with Escape; returns the exit code, or None when it had to be
        killed."""
        if proc.poll() is None and wid is not None:
            try:
                self.keys(wid, "Escape")
                proc.wait(EXIT_TIMEOUT_S)
            except (BenchError, subprocess.TimeoutExpired):
                pass
        if proc.poll() is None:
            self.stop(proc)
            return None
        self.stop(proc)
        return proc.returncode

    def ensure_no_main_window(self):
        if self.visible_windows(MAIN_TITLE):
            raise BenchError("a main window from an earlier start is still shown")

    def fresh_copy(self, list_bytes):
        work = Path(tempfile.mkdtemp(prefix="pennaro-bench-"))
        exe = work / "pennaro"
        shutil.copy2(self.program, exe)
        (work / "tieba.txt").write_bytes(list_bytes)
        return work, exe

    # --- start time -------------------------------------------------------------------------

    def start_once(self, list_bytes):
        self.ensure_no_main_window()
        work, exe = self.fresh_copy(list_bytes)
        try:
            with open(work / "stderr.log", "wb") as err:
                t0 = time.monotonic()
                proc = self.spawn([str(exe)], cwd=work, env=self.env, stderr=err)
            wid = None
            try:
                wid, seen = self.wait_window(MAIN_TITLE, proc)
            except BenchError as e:
                tail = (work / "stderr.log").read_text(errors="replace")[-2000:]
                raise BenchError("%s\nprogram stderr:\n%s" % (e, tail))
            finally:
                code = self.close_program(proc, wid)
            if code != 0:
                log("warning: the program did not end cleanly after Escape (exit %s)" % code)
            return (seen - t0) * 1000.0
        finally:
            shutil.rmtree(work, ignore_errors=True)

    def start_times(self, list_bytes, label):
        times = [self.start_once(list_bytes) for _ in range(self.runs)]
        log("start, %s: %s ms" % (label, ", ".join("%.0f" % t for t in times)))
        return {"median_ms": round(median(times), 1), "max_ms": round(max(times), 1),
                "runs_ms": [round(t, 1) for t in times]}

    # --- 100-page run -----------------------------------------------------------------------

    def netns_cmd(self, *args, **kwargs):
        env = dict(os.environ, PENNARO_NETNS=self.netns)
        return subprocess.run(["bash", str(NETNS_SCRIPT), *args], env=env,
                              stdin=subprocess.DEVNULL, **kwargs)

    def netns_start(self):
        self.netns = os.environ.get("PENNARO_NETNS") or "pennaro-bench"
        listed = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True)
        if self.netns in (line.split()[0] for line in listed.stdout.splitlines() if line.split()):
            raise BenchError("network namespace %s exists already (another run?); if it is "
                             "stale: PENNARO_NETNS=%s scripts/netns-service.sh down, or set "
                             "PENNARO_NETNS to another name" % (self.netns, self.netns))
        self.netns_up = True
        # The server started in the background keeps the script's stdout: never a pipe here.
        res = self.netns_cmd("up", stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                             text=True, timeout=30)
        if res.returncode != 0:
            raise BenchError("netns-service.sh up failed: %s" % res.stderr.strip())
        probe = ("import socket, sys, time\n"
                 "end = time.monotonic() + 10\n"
                 "while True:\n"
                 "    try:\n"
                 "        socket.create_connection(('tieba.baidu.com', 80), 1).close()\n"
                 "        break\n"
                 "    except OSError as e:\n"
                 "        if time.monotonic() > end: sys.exit(str(e))\n"
                 "        time.sleep(0.05)\n")
        res = self.netns_cmd("exec", sys.executable, "-c", probe, capture_output=True,
                             text=True, timeout=30)
        if res.returncode != 0:
            raise BenchError("the server in namespace %s does not answer on tieba.baidu.com:80: "
                             "%s (log: %s)" % (self.netns, res.stderr.strip(), self.server_log()))
        log("namespace %s serving the saved pages" % self.netns)

    def netns_stop(self, keep_log):
        if self.netns_up:
            self.netns_up = False
            self.netns_cmd("down", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=30)
            if keep_log:
                log("server log kept: %s" % self.server_log())
            else:
                self.server_log().unlink(missing_ok=True)

    def server_log(self):
        return Path("/tmp/%s-server.log" % self.netns)

    def requests(self):
        try:
            text = self.server_log().read_text(errors="replace")
        except FileNotFoundError:
            return []
        return [line for line in text.splitlines() if line.startswith("GET ")]

    def page_run(self):
        self.netns_start()
        work, exe = self.fresh_copy(b"")
        timing = work / "time.txt"
        try:
            self.ensure_no_main_window()
            with open(work / "stderr.log", "wb") as err:
                env = dict(self.env, PENNARO_NETNS=self.netns)
                proc = self.spawn(["bash", str(NETNS_SCRIPT), "exec", GNU_TIME, "-v", "-o",
                                   str(timing), str(exe)], cwd=work, env=env, stderr=err)
            try:
                result = self.drive_run(proc)
            except BenchError as e:
                tail = (work / "stderr.log").read_text(errors="replace")[-2000:]
                raise BenchError("%s\nprogram stderr:\n%s" % (e, tail))
            finally:
                self.stop(proc)
            stats = timing.read_text(errors="replace") if timing.exists() else ""
            rss = re.search(r"Maximum resident set size \(kbytes\): (\d+)", stats)
            status = re.search(r"Exit status: (\d+)", stats)
            elapsed = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): ([\d:.]+)",
                                stats)
            if not (rss and status and elapsed):
                raise BenchError("no figures from %s -v:\n%s" % (GNU_TIME, stats))
            if int(status.group(1)) != 0 or "terminated by signal" in stats:
                raise BenchError("the program did not exit with 0:\n%s" % stats)
            seconds = 0.0
            for part in elapsed.group(1).split(":"):
                seconds = seconds * 60 + float(part)
            result.update(peak_rss_kb=int(rss.group(1)),
                          peak_rss_mb=round(int(rss.group(1)) / 1024.0, 1),
                          process_wall_s=round(seconds, 2))
            return result
        finally:
            shutil.rmtree(work, ignore_errors=True)

    def drive_run(self, proc):
        main, _ = self.wait_window(MAIN_TITLE, proc)
        # The focus starts in the forum-name box.
        self.type_text(main, FORUM_NAME)
        ox, oy = self.client_origin(main)
        bx, by, bw, bh = EXTRACT_BUTTON
        self.x("xdotool", "mousemove", str(ox + bx + bw // 2), str(oy + by + bh // 2))
        time.sleep(0.05)
        self.x("xdotool", "click", "1")
        dialog, _ = self.wait_window(PAGE_COUNT_TITLE, proc, timeout=10)
        self.type_text(dialog, str(PAGES))
        self.keys(dialog, "Return")
        dialog, _ = self.wait_window(PAGE_OFFSET_TITLE, proc, timeout=10)
        self.type_text(dialog, "0")
        self.keys(dialog, "Return")
        started = time.monotonic()
        deadline = started + RUN_TIMEOUT_S
        while True:
            count = len(self.requests())
            if count >= PAGES:
                finished = time.monotonic()
                break
            if proc.poll() is not None:
                raise BenchError("the program ended during the run after %d requests" % count)
            if time.monotonic() > deadline:
                raise BenchError("only %d of %d requests within %.0f s"
                                 % (count, PAGES, RUN_TIMEOUT_S))
            time.sleep(0.01)
        # The last page is still being taken apart when its request is logged.
        time.sleep(1.0)
        reqs = self.requests()
        if len(reqs) != PAGES:
            raise BenchError("%d requests instead of %d" % (len(reqs), PAGES))
        first = reqs[0].split()[1]
        if first != "/f?kw=%s&pn=0" % FORUM_NAME:
            raise BenchError("unexpected first request %s: typing did not reach the program"
                             % first)
        self.keys(main, "Escape")
        try:
            proc.wait(EXIT_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            raise BenchError("the program did not exit after Escape")
        return {"pages": PAGES, "requests": len(reqs), "run_wall_s": round(finished - started, 2)}

    # --- all --------------------------------------------------------------------------------

    def run(self, list_bytes):
        self.start_display()
        # One untimed start, so that the first timed one does not pay for cold caches alone.
        self.start_once(b"")
        empty = self.start_times(b"", "empty list")
        big = self.start_times(list_bytes, "8 MiB list")
        pages = self.page_run()
        log("100-page run: peak RSS %d kB, run %.2f s, process %.2f s"
            % (pages["peak_rss_kb"], pages["run_wall_s"], pages["process_wall_s"]))
        return {"start_empty_list": empty,
                "start_8mib_list": dict(big, list_bytes=len(list_bytes)),
                "run_100_pages": pages}

    def cleanup(self, failed):
        # A second signal must not cut the clean-up short.
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(sig, signal.SIG_IGN)
        for proc in list(self.live):
            if proc not in (self.xvfb, self.openbox):
                self.stop(proc)
        try:
            self.netns_stop(keep_log=failed)
        except (OSError, subprocess.SubprocessError) as e:
            log("warning: netns-service.sh down failed: %s" % e)
        self.stop(self.openbox)
        self.stop(self.xvfb)


def rows(figures):
    """(case, first figure, second figure) for each line of the table."""
    e, b, p = figures["start_empty_list"], figures["start_8mib_list"], figures["run_100_pages"]
    return [
        ("start, empty list", "median %.0f ms" % e["median_ms"], "max %.0f ms" % e["max_ms"]),
        ("start, 8 MiB list", "median %.0f ms" % b["median_ms"], "max %.0f ms" % b["max_ms"]),
        ("%d-page run" % p["pages"], "peak RSS %.1f MB" % p["peak_rss_mb"],
         "wall %.2f s" % p["run_wall_s"]),
    ]


def table(figures):
    lines = ["| measure | figure | figure |", "|---|---|---|"]
    lines += ["| %s | %s | %s |" % row for row in rows(figures)]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, type=Path, help="the built executable")
    parser.add_argument("--pages", required=True, type=Path, help="the saved listing pages")
    parser.add_argument("--json", type=Path, help="also write the figures as JSON here")
    parser.add_argument("--runs", type=int, default=5, help="starts per case (default 5)")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    def on_signal(signum, _frame):
        raise SystemExit(128 + signum)

    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, on_signal)

    bench = Bench(args.program.resolve(), args.runs)
    failed = True
    try:
        check_requirements(args.program, args.pages)
        list_bytes = make_list(LIST_BYTES)
        figures = bench.run(list_bytes)
        failed = False
    except BenchError as e:
        print("bench-program: " + str(e), file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("bench-program: interrupted", file=sys.stderr)
        return 130
    finally:
        bench.cleanup(failed)
    figures["notes"] = {
        "start": "program start to its main window being visible, polled with xdotool",
        "run_wall_s": "last dialog confirmed to the %dth request served" % PAGES,
        "process_wall_s": "whole process under %s -v, typing and closing included" % GNU_TIME,
        "peak_rss_mb": "kbytes / 1024",
    }
    print(table(figures))
    # The report reads "rows" as (case, figure) pairs.
    figures["rows"] = [[case, "%s, %s" % (a, b)] for case, a, b in rows(figures)]
    if args.json:
        args.json.write_text(json.dumps(figures, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
