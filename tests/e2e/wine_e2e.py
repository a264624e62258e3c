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
