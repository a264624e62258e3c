#!/usr/bin/env python3
"""The live view and the event command of the real capture program, under Wine.

  live_view_e2e.py WINE BIN_DIR WORK_DIR PUPPETEER_DIR

- The program serves on 127.0.0.1 with the Digest login of its configuration's line 3.
- A real browser (headless Chromium through puppeteer-core) logs in and shows the live page:
  its picture is the test camera's (compared with the frame file), the frame time advances,
  and the stream arrives at 4 frames a second or more.
- curl: no login, a wrong login and hostile paths are refused with nothing served; the
  snapshot decodes (Pillow); /videos lists the folder's videos and a download is the file.
- 50 clients open streams at once: 8 are served and the capture passes never gap; the
  program closes within its close time with viewers still connected.
- The event command gets the name of every saved motion video; a missing program is 051
  once and the recordings go on; a port that is taken, or no password, is 053 once.
Prints the measured figures.
"""
import hashlib
import io
import json
import os
import re
import socket
import subprocess
import sys
import threading
import time

from PIL import Image, ImageChops, ImageStat

from wine_e2e import close_talvex, fresh as fresh_in, log, start_talvex, test_devices, wait_for

WINE, BIN, WORK, PUPPETEER = (sys.argv[1], os.path.abspath(sys.argv[2]),
                              os.path.abspath(sys.argv[3]), os.path.abspath(sys.argv[4]))
BROWSER_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "live_view_browser.js")
USER, PASSWORD, REALM = "cam one", "s3cret word", "Talvex e2e0123456789ab"
DIGEST = hashlib.md5(f"{USER}:{REALM}:{PASSWORD}".encode()).hexdigest()
VIDEO = re.compile(r"^Talvex_Camera_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d"
                   r"(_\d+)?\.avi$")
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def escaped(text):
    return "".join(c if 0x20 < ord(c) < 0x7F and c not in "%=>" else "%%%02X" % ord(c)
                   for c in text)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def config(folder, port, on_event="", password=DIGEST, motion=1, frames=1):
    line2 = (f"1.4 -1 -1 Talvex_Test_Camera Talvex_MJPEG_Compressor {frames} 0 _ 0 _ 21 _ _ _ "
             f"{motion} 7.500000 2 >")
    line3 = (f"talvex-ext 1 pre_event=0 keep_free_mb=0 max_age_days=0 light_filter=0 warm_up=0 "
             f"web_port={port} web_user={escaped(USER)} web_realm={escaped(REALM)} "
             f"web_password={password} on_event={escaped(on_event)} >")
    with open(os.path.join(folder, "Talvex.cfg"), "wb") as f:
        f.write(b"/* Don't edit by hand. Use Talvex to change. */\n" + line2.encode() + b"\n" +
                line3.encode())

def fresh(name):
    return fresh_in(WORK, name)


def start(folder):
    return start_talvex(WINE, BIN, folder)


def close(process):
    return close_talvex(WINE, process)
def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def curl(port, path, *options, login=(USER, PASSWORD), seconds=10):
    """(status, body) of one request made by curl."""
    command = ["curl", "-s", "--max-time", str(seconds), "--path-as-is", "-o", "-", "-w",
               "\n%{http_code}", *options]
    if login:
        command += ["--digest", "-u", f"{login[0]}:{login[1]}"]
    result = subprocess.run(command + [f"http://127.0.0.1:{port}{path}"], capture_output=True)
    body, _, code = result.stdout.rpartition(b"\n")
    return int(code or 0), body


class FrameFileWatch:
    """Polls the frame files' write times; the longest gap between two writes."""

    def __init__(self, folder):
        self.folder, self.stop, self.times = folder, False, []
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        last = {}
        while not self.stop:
            for name in ("Talvex_0.bmp", "Talvex_1.bmp"):
                try:
                    t = os.stat(os.path.join(self.folder, name)).st_mtime_ns
                except FileNotFoundError:
                    continue
                if last.get(name) != t:
                    last[name] = t
                    self.times.append(time.time())
            time.sleep(0.01)

    def longest_gap(self):
        self.stop = True
        self.thread.join()
        return max((b - a for a, b in zip(self.times, self.times[1:])), default=None)


def main_run():
    folder = fresh("live")
    port = free_port()
    events = os.path.join(folder, "events.txt")
    config(folder, port, on_event="cmd /c echo %f>>events.txt")
    program = start(folder)
    check(wait_for(lambda: listening(port), 30), f"the live view listens on port {port}")

    # The login.
    for path in ("/", "/stream.mjpg", "/snapshot.jpg", "/videos", "/status"):
        code, body = curl(port, path, login=None, seconds=5)
        check(code == 401 and b"\xff\xd8" not in body, f"{path} without a login: 401 ({code})")
        code, body = curl(port, path, login=(USER, "wrong"), seconds=5)
        check(code == 401 and b"\xff\xd8" not in body, f"{path} with a wrong password: 401 ({code})")
    code, body = curl(port, "/snapshot.jpg")
    try:
        picture = Image.open(io.BytesIO(body))
        picture.load()
        check(code == 200 and picture.size == (320, 240), f"/snapshot.jpg decodes: {picture.size}")
    except Exception as error:  # noqa: BLE001 - any decoding failure is the finding
        check(False, f"/snapshot.jpg decodes ({code}, {error})")

    # The browser.
    shots = os.path.join(WORK, "browser")
    os.makedirs(shots, exist_ok=True)
    result = subprocess.run(["node", BROWSER_SCRIPT, f"http://127.0.0.1:{port}/", USER,
                             PASSWORD, shots], capture_output=True, text=True, timeout=120,
                            env=dict(os.environ, NODE_PATH=os.path.join(PUPPETEER, "node_modules")))
    shown = json.loads(result.stdout.strip().splitlines()[-1]) if result.returncode == 0 else {}
    if not shown:
        print(result.stderr)
    check(shown.get("http") == 200, f"the browser logged in: {shown.get('http')}")
    check(shown.get("device") == "Talvex Test Camera", f"the page names the camera: {shown.get('device')}")
    check((shown.get("width"), shown.get("height")) == (320, 240),
          f"the picture at full frame size: {shown.get('width')} x {shown.get('height')}")
    check(shown.get("first_time", "") != shown.get("later_time", ""),
          f"the frame time advances: {shown.get('first_time')} -> {shown.get('later_time')}")
    check(shown.get("fps", 0) >= 4, f"the browser receives {shown.get('fps')} frames a second")
    check(shown.get("status", "").startswith("Camera sending"),
          f"the status line: {shown.get('status')!r}")
    if os.path.exists(os.path.join(shots, "live_frame.png")):
        seen = Image.open(os.path.join(shots, "live_frame.png")).convert("RGB").resize((320, 240))
        frame = Image.open(os.path.join(folder, "Talvex_1.bmp")).convert("RGB")
        difference = ImageStat.Stat(ImageChops.difference(seen, frame)).mean
        check(max(difference) < 24, f"the browser shows the camera's picture (mean difference "
              f"{[round(d, 1) for d in difference]})")

    # Hostile paths.
    with open(os.path.join(folder, "Talvex.cfg"), "rb") as f:
        secret = f.read()
    for path in ("/videos/../Talvex.cfg", "/videos/%2e%2e/Talvex.cfg", "/videos/..%5cTalvex.cfg",
                 "/videos/Talvex.cfg", "/videos/Talvex.log", "/videos/TALVEX~1.CFG",
                 "/videos/C:%5cwindows%5cwin.ini", "/Talvex.cfg", "/videos/%252e%252e/Talvex.cfg"):
        code, body = curl(port, path)
        check(code in (400, 401, 404) and secret not in body and b"Talvex Capture" not in body,
              f"{path}: refused ({code})")

    # Videos: motion records within 10 s on the test camera.
    check(wait_for(lambda: any(VIDEO.match(n) for n in os.listdir(folder)), 40),
          "a motion video was saved")
    code, listing = curl(port, "/videos")
    names = sorted(n for n in os.listdir(folder) if VIDEO.match(n))
    check(code == 200 and all(n.encode() in listing for n in names),
          f"/videos lists the folder's {len(names)} videos")
    if names:
        code, body = curl(port, "/videos/" + names[0])
        with open(os.path.join(folder, names[0]), "rb") as f:
            check(code == 200 and body == f.read(), f"a download is the file byte for byte "
                  f"({len(body)} bytes)")
        code, body = curl(port, "/videos/" + names[0], "-r", "100-199")
        with open(os.path.join(folder, names[0]), "rb") as f:
            check(code == 206 and body == f.read()[100:200], f"a range of it ({code})")

    # 50 viewers at once, while the passes go on.
    watch = FrameFileWatch(folder)
    served = []
    viewers = [subprocess.Popen(["curl", "-s", "--max-time", "5", "--digest", "-u",
                                 f"{USER}:{PASSWORD}", "-o", "-",
                                 f"http://127.0.0.1:{port}/stream.mjpg"],
                                stdout=subprocess.PIPE) for _ in range(50)]
    for viewer in viewers:
        out, _ = viewer.communicate()
        served.append(out.count(b"Content-Type: image/jpeg") > 0)
    gap = watch.longest_gap()
    check(sum(served) == 8, f"of 50 viewers at once, {sum(served)} served")
    check(gap is not None and gap < 0.6, f"the passes' longest gap with them: {gap and round(gap, 3)} s")

    # The close, with viewers still connected.
    stayers = [subprocess.Popen(["curl", "-s", "--max-time", "60", "--digest", "-u",
                                 f"{USER}:{PASSWORD}", "-o", "/dev/null",
                                 f"http://127.0.0.1:{port}/stream.mjpg"]) for _ in range(8)]
    time.sleep(2)
    took = close(program)
    check(took is not None and took < 5, f"closed with 8 viewers connected in {took and round(took, 2)} s")
    for s in stayers:
        s.wait()

    # Every saved motion video reached the command.
    names = sorted(n for n in os.listdir(folder) if VIDEO.match(n))
    got = open(events, encoding="latin-1").read() if os.path.exists(events) else ""
    check(names and all(n in got for n in names),
          f"the event command got every saved video ({len(names)}): {got.strip()!r}")


def failing_runs():
    # A command that cannot be started: 051 once, the recordings go on.
    folder = fresh("missing_command")
    config(folder, 0, on_event="no_such_program_here.exe %f")
    program = start(folder)
    wait_for(lambda: sum(bool(VIDEO.match(n)) for n in os.listdir(folder)) >= 2, 45)
    close(program)
    videos = sum(bool(VIDEO.match(n)) for n in os.listdir(folder))
    check(log(folder).count("Unable to run the event command. (051)") == 1 and videos >= 2,
          f"a missing program: 051 once, and {videos} videos")

    # No password, or a port that is taken: 053 once, and the program runs.
    for name, password, take in (("no_password", "", False), ("port_taken", DIGEST, True)):
        folder = fresh(name)
        port = free_port()
        other = None
        if take:
            other = socket.socket()
            other.bind(("0.0.0.0", port))
            other.listen(1)
        config(folder, port, password=password, motion=0)
        program = start(folder)
        wait_for(lambda: "(053)" in log(folder), 20)
        time.sleep(1)
        took = close(program)
        check(log(folder).count("Unable to start the live view. (053)") == 1 and took is not None,
              f"{name}: 053 once, and the program ran")
        if other:
            other.close()


def main():
    os.makedirs(WORK, exist_ok=True)
    with test_devices(WINE, BIN):
        main_run()
        failing_runs()
    if failures:
        print(f"{len(failures)} failed: " + "; ".join(failures))
        sys.exit(1)
    print("live view end to end: all passed")


main()
