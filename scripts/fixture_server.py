#!/usr/bin/env python3
"""Serves the saved listing pages as the forum's web server would, for trying the real program.

GET /f?kw=...&pn=N answers with page N (cycling through the pages given), as UTF-8 with the
charset in the header. Each request is logged to stderr.
"""
import argparse
import http.server
import sys
import urllib.parse


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=80)
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("pages", nargs="+")
    args = parser.parse_args()
    pages = [open(p, "rb").read() for p in args.pages]

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            query = urllib.parse.urlsplit(self.path).query
            pn = urllib.parse.parse_qs(query, keep_blank_values=True).get("pn", ["0"])[0]
            try:
                body = pages[int(pn) % len(pages)]
            except ValueError:
                body = b""
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=UTF-8")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            sys.stderr.write("%s %s\n" % (self.requestline, self.headers.get("User-Agent")))
            sys.stderr.flush()

        def log_message(self, *args):
            pass

    http.server.HTTPServer((args.bind, args.port), Handler).serve_forever()


if __name__ == "__main__":
    main()
