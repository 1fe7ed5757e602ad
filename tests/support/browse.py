#!/usr/bin/env python3
"""Opens a page in headless Chromium as a person's browser would, evaluates a JavaScript expression in it
once it has loaded, and optionally keeps a screenshot of the whole page.

    browse.py URL [--eval EXPRESSION] [--screenshot FILE.png] [--width PX] [--chromium PATH]

Prints the seconds the page took to load on its first line, then the expression's value (a string as it
is, anything else as JSON). Exit status 0, or 1 with the reason on standard error.

Chromium is driven through the DevTools protocol over a pipe (--remote-debugging-pipe: the protocol's
messages, NUL-terminated JSON, on file descriptors 3 and 4), so nothing listens on a port and only the
standard library is needed. The flags keep Chromium off the network (none is reachable here) and away from
any profile of the machine's user."""

import argparse
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--remote-debugging-pipe",
]
TIMEOUT_SECONDS = 600


class Browser:
    def __init__(self, chromium, profile, width):
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()
        # The child's descriptors 3 and 4 must be exactly these pipe ends (moved out of the way first, in
        # case either is 3 or 4 already); they survive the closing of the others as pass_fds.
        def arrange():
            reading, writing = os.dup(to_browser_read), os.dup(from_browser_write)
            os.dup2(reading, 3)
            os.dup2(writing, 4)
        self.process = subprocess.Popen(
            [chromium, *FLAGS, f"--user-data-dir={profile}", f"--window-size={width},1000", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=arrange, pass_fds=(3, 4))
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        return self.wait(lambda m: m.get("id") == self.next_id)

    def wait(self, matches):
        deadline = time.monotonic() + TIMEOUT_SECONDS
        for i, event in enumerate(self.events):
            if matches(event):
                return self.events.pop(i)
        while time.monotonic() < deadline:
            while b"\0" not in self.buffer:
                chunk = os.read(self.from_browser, 1 << 20)
                if not chunk:
                    raise RuntimeError("chromium ended")
                self.buffer += chunk
            raw, self.buffer = self.buffer.split(b"\0", 1)
            message = json.loads(raw)
            if "error" in message:
                raise RuntimeError(f"chromium: {message['error']}")
            if matches(message):
                return message
            if "method" in message:
                self.events.append(message)
        raise RuntimeError("chromium did not answer in time")

    def close(self):
        try:
            os.write(self.to_browser, json.dumps({"id": 0, "method": "Browser.close"}).encode() + b"\0")
            self.process.wait(timeout=30)
        except Exception:
            self.process.kill()
            self.process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--eval", default="null")
    parser.add_argument("--screenshot")
    parser.add_argument("--width", type=int, default=1000)
    parser.add_argument("--chromium", default=shutil.which("chromium") or "/usr/bin/chromium")
    args = parser.parse_args()

    profile = tempfile.mkdtemp(prefix="browse-profile.")
    browser = Browser(args.chromium, profile, args.width)
    try:
        targets = browser.send("Target.getTargets")["result"]["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        session = browser.send("Target.attachToTarget", {"targetId": page["targetId"], "flatten": True})
        session = session["result"]["sessionId"]
        browser.send("Page.enable", session=session)
        started = time.monotonic()
        browser.send("Page.navigate", {"url": args.url}, session=session)
        browser.wait(lambda m: m.get("method") == "Page.loadEventFired" and m.get("sessionId") == session)
        load_seconds = time.monotonic() - started
        result = browser.send("Runtime.evaluate", {"expression": args.eval, "returnByValue": True,
                                                    "awaitPromise": True}, session=session)["result"]
        if "exceptionDetails" in result:
            raise RuntimeError(f"the expression failed: {result['exceptionDetails']}")
        if args.screenshot:
            shot = browser.send("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True},
                                session=session)["result"]["data"]
            with open(args.screenshot, "wb") as out:
                out.write(base64.b64decode(shot))
        value = result["result"].get("value")
        sys.stdout.write(f"{load_seconds:.3f}\n")
        sys.stdout.write(value if isinstance(value, str) else json.dumps(value, ensure_ascii=False))
        sys.stdout.write("\n")
    except (RuntimeError, StopIteration, KeyError, OSError) as problem:
        print(f"browse.py: {problem!r}", file=sys.stderr)
        return 1
    finally:
        browser.close()
        shutil.rmtree(profile, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
