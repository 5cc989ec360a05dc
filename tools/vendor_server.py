#!/usr/bin/env python3
"""A local stand-in for the vendor's web server, on 127.0.0.1 only.

Serves the files of a folder: the version manifest the launcher fetches
(client/version.html, and client/version_debug.html for debug mode) and the
installer it names. Integrators use it to try their own manifests:

    python3 tools/vendor_server.py --root DIR [--port 48080] [--delay 2.5]
        [--fail MODE] [--lifetime 600] [--log FILE]

--delay holds every installer body (any path outside client/) that long
after its headers. --fail MODE breaks one thing on purpose:
    manifest-404    the manifest answers 404
    bad-manifest    the manifest is cut in half, so it does not parse
    installer-404   the installer answers 404
    cut-installer   the installer ends after half its Content-Length
The server stops by itself after --lifetime seconds. Each request is logged
as one line: method, path, user agent, status, body bytes sent.
"""
import argparse
import http.server
import os
import sys
import threading
import time
import urllib.parse

FAIL_MODES = ("none", "manifest-404", "bad-manifest", "installer-404", "cut-installer")


def make_handler(args, log):
    root = os.path.realpath(args.root)

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *values):  # replaced by our own line per request
            pass

        def record(self, status, sent):
            line = '%s %s "%s" %d %d' % (self.command, self.path,
                                         self.headers.get("User-Agent", ""), status, sent)
            log.write(line + "\n")
            log.flush()

        def reply(self, status, body, declared=None):
            self.send_response(status)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body) if declared is None else declared))
            self.send_header("Connection", "close")
            self.end_headers()
            return body

        def do_GET(self):
            path = urllib.parse.urlparse(self.path).path
            local = os.path.realpath(os.path.join(root, path.lstrip("/")))
            is_manifest = path.startswith("/client/")
            body = None
            if local.startswith(root + os.sep) and os.path.isfile(local):
                with open(local, "rb") as f:
                    body = f.read()
            status, declared = 200, None
            if body is None:
                status, body = 404, b"<html><body>404 Not Found</body></html>"
            elif is_manifest and args.fail == "manifest-404":
                status, body = 404, b"<html><body>404 Not Found</body></html>"
            elif is_manifest and args.fail == "bad-manifest":
                body = body[: len(body) // 2]
            elif not is_manifest and args.fail == "installer-404":
                status, body = 404, b"<html><body>404 Not Found</body></html>"
            elif not is_manifest and args.fail == "cut-installer":
                declared, body = len(body), body[: len(body) // 2]
            self.reply(status, body, declared)
            if not is_manifest and args.delay > 0:
                time.sleep(args.delay)
            sent = 0
            try:
                for i in range(0, len(body), 65536):
                    self.wfile.write(body[i:i + 65536])
                    sent += len(body[i:i + 65536])
                self.wfile.flush()
            except OSError:
                pass
            self.record(status, sent)
            self.close_connection = True

    return Handler


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", required=True, help="folder with client/version.html and installers")
    parser.add_argument("--port", type=int, default=48080)
    parser.add_argument("--delay", type=float, default=0.0, help="seconds before each installer body")
    parser.add_argument("--fail", choices=FAIL_MODES, default="none")
    parser.add_argument("--lifetime", type=float, default=600.0, help="seconds until the server stops")
    parser.add_argument("--log", help="request log file (default: stderr)")
    args = parser.parse_args(argv)

    log = open(args.log, "a", buffering=1) if args.log else sys.stderr
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), make_handler(args, log))
    server.daemon_threads = True
    stopper = threading.Timer(args.lifetime, server.shutdown)
    stopper.daemon = True
    stopper.start()
    print("vendor server: http://127.0.0.1:%d/ serving %s (fail=%s, delay=%gs)"
          % (args.port, os.path.realpath(args.root), args.fail, args.delay), file=sys.stderr, flush=True)
    server.serve_forever(poll_interval=0.2)
    server.server_close()


if __name__ == "__main__":
    main()
