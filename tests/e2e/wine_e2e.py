"""What the Python end-to-end tests of the real programs under Wine share: the test
devices registered for a run, scratch folders, the capture program's log, and waiting."""
import contextlib
import os
import shutil
import subprocess
import time


@contextlib.contextmanager
def test_devices(wine, bin_dir):
    """The virtual cameras and the product's compressor, registered while the block runs."""
    dlls = ["Z:" + os.path.join(bin_dir, dll).replace("/", "\\")
            for dll in ("talvex_filters.dll", "talvex_codec.dll")]
    for dll in dlls:
        subprocess.run([wine, "regsvr32", "/s", dll])
    try:
        yield
    finally:
        for dll in dlls:
            subprocess.run([wine, "regsvr32", "/u", "/s", dll])


def fresh(work, name):
    """An empty folder WORK/NAME."""
    folder = os.path.join(work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def log(folder):
    """The capture program's log in the folder, or an empty text."""
    try:
        with open(os.path.join(folder, "Talvex.log"), "rb") as f:
            return f.read().decode("latin-1")
    except FileNotFoundError:
        return ""


def wait_for(condition, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if condition():
            return True
        time.sleep(0.2)
    return condition()


def start_talvex(wine, bin_dir, folder, env=None):
    """The capture program started in FOLDER, its output away."""
    return subprocess.Popen([wine, os.path.join(bin_dir, "Talvex.exe")], cwd=folder, env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def close_talvex(wine, process):
    """As a user closes it: the window gets WM_CLOSE. The seconds until the program ended,
    or None when it had to be killed after 30 s."""
    before = time.time()
    subprocess.run([wine, "taskkill", "/im", "Talvex.exe"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    try:
        process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None
    return time.time() - before
