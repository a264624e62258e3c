#!/usr/bin/env python3
"""The capture program for MINUTES on the test camera with motion detection, "Capture
Frames" and FTP to a local pyftpdlib server. Every 10 s it prints the process's handle
count, thread count and memory as Windows counts them; at the end it checks that every
motion recording that started produced a video that ffprobe and ffmpeg read whole.

  soak.py WINE BIN_DIR WORK_DIR MINUTES
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

WINE, BIN, WORK, MINUTES = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3]), float(sys.argv[4])
# The test cameras and the product's compressor.
FILTERS = ["Z:" + os.path.join(BIN, dll).replace("/", "\\")
           for dll in ("talvex_filters.dll", "talvex_codec.dll")]


def scrambled(password):  # the configuration file's key 'c': every byte plus one
    return "c" + "".join(chr(ord(c) + 1) for c in password)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                          "-show_entries", "stream=nb_read_frames", "-of", "default=nw=1", path],
                         capture_output=True, text=True).stdout
    frames = re.search(r"nb_read_frames=(\d+)", out)
    errors = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"],
                            capture_output=True, text=True).stderr.strip()
    return (int(frames.group(1)) if frames else 0), errors


def main():
    home = tempfile.mkdtemp()
    os.mkdir(os.path.join(home, "cam"))
    authorizer = DummyAuthorizer()
    authorizer.add_user("camera", "s3cret", home, perm="elradfmw")
    FTPHandler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", 0), FTPHandler)
    port = server.address[1]
    threading.Thread(target=server.serve_forever, daemon=True).start()

    folder = os.path.join(WORK, "soak")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    line = (f"1.4 -1 -1 Talvex_Test_Camera Talvex_MJPEG_Compressor 1 0 _ 1 127.0.0.1 {port} "
            f"camera {scrambled('s3cret')} cam/soak.jpg 1 7.500000 5 >")
    with open(os.path.join(folder, "Talvex.cfg"), "wb") as f:
        f.write(b"/* Don't edit by hand. Use Talvex to change. */\n" + line.encode())

    for dll in FILTERS:
        subprocess.run([WINE, "regsvr32", "/s", dll])
    talvex = subprocess.Popen([WINE, os.path.join(BIN, "Talvex.exe")], cwd=folder,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    started = time.time()
    end = started + MINUTES * 60
    starts, recording, next_sample = 0, False, started + 10
    descriptor = os.path.join(folder, "Talvex_tmp.dsc")
    while time.time() < end and talvex.poll() is None:
        # A recording starts with its descriptor and is saved when it goes.
        now_recording = os.path.exists(descriptor)
        if now_recording and not recording:
            starts += 1
        recording = now_recording
        if time.time() >= next_sample:
            next_sample += 10
            stats = subprocess.run([WINE, os.path.join(BIN, "talvex_process_stats.exe"),
                                    "Talvex.exe"], capture_output=True, text=True).stdout.strip()
            videos = len([n for n in os.listdir(folder) if n.startswith("Talvex_Camera_")])
            print(f"t={time.time() - started:.0f}s {stats} videos={videos} recordings={starts}",
                  flush=True)
        time.sleep(0.25)
    alive = talvex.poll() is None
    in_progress = os.path.exists(descriptor)
    talvex.send_signal(signal.SIGKILL)
    talvex.wait()
    for dll in FILTERS:
        subprocess.run([WINE, "regsvr32", "/u", "/s", dll])
    server.close_all()

    failures = []
    if not alive:
        failures.append("the program ended by itself")
    videos = sorted(n for n in os.listdir(folder) if n.startswith("Talvex_Camera_"))
    for n in videos:
        frames, errors = probe(os.path.join(folder, n))
        if frames == 0 or errors:
            failures.append(f"{n}: {frames} frames {errors[:200]}")
    expected = starts - (1 if in_progress else 0)
    if len(videos) != expected:
        failures.append(f"{expected} motion recordings finished, {len(videos)} videos")
    snapshot = os.path.join(home, "cam", "soak.jpg")
    if not os.path.exists(snapshot) or open(snapshot, "rb").read(2) != b"\xff\xd8":
        failures.append("no snapshot reached the FTP server")
    log = open(os.path.join(folder, "Talvex.log"), "rb").read().decode("latin-1")
    print(f"{len(videos)} videos of {expected} motion recordings, all checked by ffprobe/ffmpeg")
    print("log entries:", len(log.splitlines()) - 2)
    for f in failures:
        print("FAIL", f)
    shutil.rmtree(home, ignore_errors=True)
    return 1 if failures else 0


sys.exit(main())
