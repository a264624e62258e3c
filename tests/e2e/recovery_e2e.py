#!/usr/bin/env python3
"""The capture program killed and its disk filled, for real, under Wine.

  recovery_e2e.py WINE BIN_DIR WORK_DIR

- Killed (SIGKILL of the Wine process) in the middle of a continuous recording and of a
  motion recording, then started again: the recording is recovered into a dated video that
  ffprobe and ffmpeg read whole and, for the long one, that the inspector lists, plays and
  seeks 60 s in.
- The video folder on a small tmpfs that fills: no dated video that does not play, 046 in
  the log, the program alive, and recordings back once there is room.
- A temporary recording of the recorder's headers and then more empty frame chunks than
  one recovery takes (TALVEX_RECOVERY_EMPTY_MB megabytes of them if set, else just over
  that limit): kept aside untouched, 046 in the log, and the program at work. Prints the
  seconds from the start to the first frame file and the program's peak memory. With
  TALVEX_RECOVERY_ONLY=empty_chunks only this case runs.
Prints the recovered frame counts. Exits 77 (skipped) when no tmpfs can be mounted.
"""
import os
import re
import shutil
import struct
import signal
import subprocess
import sys
import time

from wine_e2e import fresh as fresh_in, log, test_devices, wait_for

WINE, BIN, WORK = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
TALVEX = os.path.join(BIN, "Talvex.exe")
NAME = re.compile(r"^Talvex_Camera_(\d{4})-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)_"
                  r"(\d{4})-(\d\d)-(\d\d)_(\d\d)-(\d\d)-(\d\d)(_\d+)?\.avi$")
failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what, flush=True)
    if not condition:
        failures.append(what)


def config(folder, frames=0, video=0, motion=0, duration=30):
    line = (f"1.4 -1 -1 Talvex_Test_Camera Talvex_MJPEG_Compressor {frames} {video} _ 0 _ 21 "
            f"_ _ _ {motion} 7.500000 {duration} >")
    with open(os.path.join(folder, "Talvex.cfg"), "wb") as f:
        f.write(b"/* Don't edit by hand. Use Talvex to change. */\n" + line.encode())


def start(folder):
    return subprocess.Popen([WINE, TALVEX], cwd=folder, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def kill(process):
    process.send_signal(signal.SIGKILL)
    process.wait()
def bare_frames(path):
    """Whole 00db/00dc chunks that a killed program left: after the recorder's header area
    (its movi list), or after the zeros of an older multiplexer's file."""
    data = open(path, "rb").read()
    p = 0
    if data[:4] == b"RIFF" and b"movi" in data[:1 << 16]:
        p = data.index(b"movi") + 4
    while p < len(data) and data[p] == 0:
        p += 1
    count = 0
    while p + 8 <= len(data) and data[p:p + 2] == b"00" and data[p + 2:p + 4] in (b"db", b"dc"):
        n = int.from_bytes(data[p + 4:p + 8], "little")
        if p + 8 + n > len(data):
            break
        count += 1
        p += 8 + n + (n & 1)
    return count


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                          "-show_entries", "stream=nb_read_frames,duration", "-of",
                          "default=nw=1", path], capture_output=True, text=True).stdout
    frames = re.search(r"nb_read_frames=(\d+)", out)
    duration = re.search(r"duration=([\d.]+)", out)
    errors = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"],
                            capture_output=True, text=True).stderr
    return (int(frames.group(1)) if frames else 0,
            float(duration.group(1)) if duration else 0.0, errors.strip())


def videos(folder):
    return sorted(n for n in os.listdir(folder) if n.startswith("Talvex_Camera_"))


def seconds_of(match, first):
    g = [int(x) for x in match.groups()[first:first + 6]]
    return time.mktime((g[0], g[1], g[2], g[3], g[4], g[5], 0, 0, -1))

def fresh(name):
    return fresh_in(WORK, name)


def killed_recording(name, seconds, inspect, **settings):
    folder = fresh(name)
    config(folder, **settings)
    run = start(folder)
    check(wait_for(lambda: os.path.exists(os.path.join(folder, "Talvex_tmp.avi")), 30),
          f"{name}: the recording started its temporary file")
    time.sleep(seconds)
    killed_at = time.time()
    kill(run)
    temp = os.path.join(folder, "Talvex_tmp.avi")
    frames = bare_frames(temp) if os.path.exists(temp) else 0
    check(frames > 0, f"{name}: the killed program left {frames} bare frames")
    check(videos(folder) == [], f"{name}: no video before the restart")

    again = start(folder)
    check(wait_for(lambda: "Interrupted recording recovered. (045)" in log(folder), 30),
          f"{name}: 045 logged by the next start")
    kill(again)
    names = [n for n in videos(folder) if seconds_of(NAME.match(n), 0) < killed_at - 1]
    check(len(names) == 1, f"{name}: one recovered video {names}")
    if not names:
        return
    video = os.path.join(folder, names[0])
    match = NAME.match(names[0])
    length = seconds_of(match, 6) - seconds_of(match, 0)
    got, duration, errors = probe(video)
    print(f"{name}: recovered {got} frames of {frames}, {duration:.2f} s, named {names[0]}")
    check(got == frames, f"{name}: every frame recovered ({got} of {frames})")
    check(abs(duration - length) <= 3, f"{name}: duration {duration:.1f} s fits the name ({length} s)")
    check(errors == "", f"{name}: ffmpeg decodes it without errors {errors[:200]}")
    if inspect:
        view = fresh(name + "_inspected")
        shutil.copy(video, view)
        env = dict(os.environ, TALVEX_RECOVERED_FOLDER="Z:" + view.replace("/", "\\"))
        result = subprocess.run([WINE, os.path.join(BIN, "talvex_inspector_e2e.exe"),
                                 "--gtest_filter=InspectorRecovered.*", view], env=env,
                                capture_output=True, text=True, timeout=120)
        check(result.returncode == 0 and "[  PASSED  ] 1 test" in result.stdout,
              f"{name}: the inspector lists, plays and seeks it\n{result.stdout[-1500:]}")


# The most frame chunks that one recovery takes (kMostRecoveredFrames).
MOST_RECOVERED_FRAMES = 1 << 21


def recorder_headers(start):
    """What the recorder writes first: RIFF and hdrl (an MJPEG stream of 320 x 240 at 15
    frames a second), the start in an INFO list, and the movi list, sizes not yet written."""
    def chunk(fourcc, body):
        return fourcc + struct.pack("<I", len(body)) + body + (b"\0" if len(body) & 1 else b"")

    avih = struct.pack("<14I", 66666, 0, 0, 0x110, 0, 0, 1, 0, 320, 240, 0, 0, 0, 0)
    strh = b"vidsMJPG" + struct.pack("<IHHIIIIIIIIhhhh", 0, 0, 0, 0, 1, 15, 0, 0, 0,
                                     0xFFFFFFFF, 0, 0, 0, 320, 240)
    strf = struct.pack("<IiiHHIIiiII", 40, 320, 240, 1, 24, 0x47504A4D, 320 * 240 * 3, 0, 0,
                       0, 0)
    strl = chunk(b"LIST", b"strl" + chunk(b"strh", strh) + chunk(b"strf", strf))
    hdrl = chunk(b"LIST", b"hdrl" + chunk(b"avih", avih) + strl)
    info = chunk(b"LIST", b"INFO" + chunk(b"ICRD", time.strftime("%Y-%m-%d %H:%M:%S",
                                                                 time.localtime(start)).encode()
                                                   + b"\0"))
    return b"RIFF\0\0\0\0AVI " + hdrl + info + b"LIST\0\0\0\0movi"


def peak_memory_mb(process):
    try:
        with open(f"/proc/{process.pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0.0


def empty_chunks():
    folder = fresh("empty_chunks")
    config(folder, frames=1)
    megabytes = int(os.environ.get("TALVEX_RECOVERY_EMPTY_MB", "0"))
    chunks = max(MOST_RECOVERED_FRAMES + 1, (megabytes << 20) // 8)
    temp = os.path.join(folder, "Talvex_tmp.avi")
    with open(temp, "wb") as f:
        f.write(recorder_headers(time.time() - 600))
        block = b"00dc\0\0\0\0" * (1 << 17)
        for _ in range(chunks // (1 << 17)):
            f.write(block)
        f.write(b"00dc\0\0\0\0" * (chunks % (1 << 17)))
    size = os.path.getsize(temp)
    begun = time.time()
    run = start(folder)
    frame_files = [os.path.join(folder, n) for n in ("Talvex_0.bmp", "Talvex_1.bmp")]
    working = wait_for(lambda: any(os.path.exists(n) for n in frame_files), 600)
    seconds = time.time() - begun
    check(working, f"empty chunks: the program writes its frame files ({size >> 20} MB file)")
    check(wait_for(lambda: "(046)" in log(folder), 30), "empty chunks: 046 logged")
    time.sleep(1)
    alive = run.poll() is None
    peak = peak_memory_mb(run)
    check(alive, "empty chunks: the program is alive")
    if alive:
        kill(run)
    kept = [n for n in os.listdir(folder) if n.startswith("Talvex_unrecovered_")]
    check(len(kept) == 1 and os.path.getsize(os.path.join(folder, kept[0])) == size,
          f"empty chunks: kept aside whole {kept}")
    check(videos(folder) == [], f"empty chunks: no video made of them {videos(folder)}")
    print(f"empty chunks: {chunks} chunks ({size >> 20} MB), first frame file after "
          f"{seconds:.1f} s, peak memory {peak:.0f} MB")


def full_disk():
    folder = fresh("full_disk")
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", folder]).returncode != 0:
        print("no tmpfs can be mounted here (not root?): the full-disk case is skipped")
        return False
    try:
        config(folder, frames=1, motion=1, duration=2)
        # About 700 KB stay free: the frame files fit, a recording does not.
        with open(os.path.join(folder, "ballast"), "wb") as f:
            f.write(b"\0" * (2048 * 1024 - 700 * 1024))
        run = start(folder)
        check(wait_for(lambda: "(046)" in log(folder), 40), "full disk: 046 logged")
        time.sleep(6)
        check(run.poll() is None, "full disk: the program is alive")
        for n in videos(folder):
            got, _, errors = probe(os.path.join(folder, n))
            check(got > 0 and errors == "", f"full disk: the dated video {n} plays")
        failed = log(folder).count("(046)")
        os.remove(os.path.join(folder, "ballast"))
        check(wait_for(lambda: len(videos(folder)) >= 1, 30), "full disk: recordings back with room")
        time.sleep(1)
        check(run.poll() is None, "full disk: still alive after the room was made")
        for n in videos(folder):
            got, _, errors = probe(os.path.join(folder, n))
            check(got > 0 and errors == "", f"full disk: {n} plays ({got} frames)")
        print(f"full disk: {failed} recordings reported as not saved before the room was made")
        kill(run)
    finally:
        subprocess.run(["umount", "-l", folder])
    return True


def main():
    os.makedirs(WORK, exist_ok=True)
    with test_devices(WINE, BIN):
        if os.environ.get("TALVEX_RECOVERY_ONLY") == "empty_chunks":
            # The measurement of a large file alone (TALVEX_RECOVERY_EMPTY_MB).
            empty_chunks()
            return 1 if failures else 0
        # Long enough for the inspector's 60-second jumps.
        killed_recording("continuous", 70, True, video=1)
        # The test scene's object crosses from second 2 to 4 of every 10.
        killed_recording("motion", 4, False, frames=1, motion=1, duration=30)
        empty_chunks()
        mounted = full_disk()
    if failures:
        print(f"{len(failures)} checks failed")
        return 1
    return 0 if mounted else 77


sys.exit(main())
