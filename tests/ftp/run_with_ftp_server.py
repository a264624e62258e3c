#!/usr/bin/env python3
"""Runs a Windows test program against a real FTP server (pyftpdlib) on 127.0.0.1, plus a
server that accepts connections and never answers, then checks what the FTP server saw:
every data connection was active (PORT, never PASV), and every session that logged in
was closed by the client itself, before the next one logged in.

  run_with_ftp_server.py WINE TEST_EXE [test arguments...]

The test program learns the servers from TALVEX_FTP_PORT, TALVEX_FTP_HANG_PORT and
TALVEX_FTP_HOME (the server's home folder as Wine names it), user "camera", password
"s3cret". Two more users with that password and home stand for stricter servers:
"nooverwrite" may rename onto no name that exists, and "norename" may only store and read,
not rename nor delete. With TALVEX_FTP_ON_21=1 the same server also listens on the default FTP port 21
when that port can be had (root, and nothing else on it); the test program then finds
TALVEX_FTP_DEFAULT_PORT=21. A second FTP server with the same home and user listens on port 4464 of the
loopback address TALVEX_FTP_WRAP_SERVER: that is where a port of 70000 cut to 16 bits
would arrive. A third server with the same home and user, on port TALVEX_FTP_HELD_PORT of
127.0.0.1, holds every other store: the first store it is given waits without an answer until
the next one has been received, then goes on (the third waits for the fourth, and so on); its
sessions may overlap."""
import logging
import os
import re
import socket
import subprocess
import sys
import random
import tempfile
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def hanging_server():
    """Accepts connections and says nothing, ever."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    held = []

    def accept():
        while True:
            try:
                connection, _ = listener.accept()
            except OSError:
                return
            held.append(connection)

    threading.Thread(target=accept, daemon=True).start()
    return listener, held


class Sessions:
    """The logged-in sessions as the server saw them, counted as they open and close."""

    def __init__(self):
        self.sessions_lock = threading.Lock()  # guards the counts below
        self.logins = 0
        self.closed = 0
        self.most_open = 0

    def handler(self):
        sessions = self

        class CountingHandler(FTPHandler):
            logged_in = False

            def on_login(self, username):
                with sessions.sessions_lock:
                    self.logged_in = True
                    sessions.logins += 1
                    sessions.most_open = max(sessions.most_open, sessions.logins - sessions.closed)
                super().on_login(username)

            def close(self):
                # Before the harness closes anything, every close is the client's: its QUIT,
                # its own disconnect or the end of its process.
                with sessions.sessions_lock:
                    if self.logged_in:
                        self.logged_in = False
                        sessions.closed += 1
                super().close()

        return CountingHandler

    def counts(self):
        with self.sessions_lock:
            return self.logins, self.closed, self.most_open


def held_stores_handler(handler):
    """The handler of a server that answers an odd-numbered store only once the store after
    it has been received, as a server does whose disk stalls on one file for a while."""
    held = {"stores": 0, "waiting": None}

    class HoldingHandler(handler):
        def ftp_STOR(self, file, mode="w"):
            held["stores"] += 1
            if held["stores"] % 2 == 1:
                held["waiting"] = (self, file, mode)
                return None  # no word until the next store is in
            return super().ftp_STOR(file, mode)

        def on_file_received(self, file):
            super().on_file_received(file)
            waiting, held["waiting"] = held["waiting"], None
            if waiting and waiting[0] is not self and not waiting[0]._closed:
                handler.ftp_STOR(*waiting)

    return HoldingHandler


def wrap_server(handler):
    """An FTP server on port 4464 (70000 mod 65536) of a loopback address of its own, so
    that parallel runs on one machine never meet there."""
    for _ in range(50):
        host = "127.%d.%d.%d" % (random.randint(1, 254), random.randint(0, 255),
                                 random.randint(1, 254))
        try:
            return FTPServer((host, 70000 % 65536), handler)
        except OSError:
            continue
    raise RuntimeError("no loopback address with port 4464 free")


def main():
    wine, exe, *arguments = sys.argv[1:]
    with tempfile.TemporaryDirectory() as home:
        os.mkdir(os.path.join(home, "cam"))
        log_path = os.path.join(home, "..", os.path.basename(home) + ".log")
        handler_log = logging.FileHandler(log_path)
        handler_log.setFormatter(logging.Formatter("%(message)s"))
        logger = logging.getLogger("pyftpdlib")
        logger.setLevel(logging.DEBUG)
        logger.addHandler(handler_log)

        authorizer = DummyAuthorizer()
        authorizer.add_user("camera", "s3cret", home, perm="elradfmw")
        authorizer.add_user("nooverwrite", "s3cret", home, perm="elradfmw")
        authorizer.add_user("norename", "s3cret", home, perm="elrw")
        sessions = Sessions()

        class Handler(sessions.handler()):
            def ftp_RNTO(self, path):
                if self.username == "nooverwrite" and self._rnfr and self.fs.lexists(path):
                    self._rnfr = None
                    self.respond("550 File exists.")
                    return None
                return super().ftp_RNTO(path)

        handler = Handler
        handler.authorizer = authorizer
        server = FTPServer(("127.0.0.1", 0), handler)
        port = server.socket.getsockname()[1]
        env = dict(os.environ)
        if env.get("TALVEX_FTP_ON_21") == "1":
            # A second listener on the same I/O loop: the serving thread below serves both.
            try:
                FTPServer(("127.0.0.1", 21), handler)
                env["TALVEX_FTP_DEFAULT_PORT"] = "21"
            except OSError as e:
                print(f"ftp server: port 21 not available ({e})")
        wrap = wrap_server(handler)  # served by the same loop as the first
        held_sessions = Sessions()
        held_handler = held_stores_handler(held_sessions.handler())
        held_handler.authorizer = authorizer
        holding = FTPServer(("127.0.0.1", 0), held_handler)  # the same loop again
        threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.2}, daemon=True).start()
        hang, held = hanging_server()

        env["TALVEX_FTP_PORT"] = str(port)
        env["TALVEX_FTP_HANG_PORT"] = str(hang.getsockname()[1])
        env["TALVEX_FTP_HOME"] = "Z:" + os.path.realpath(home).replace("/", "\\")
        env["TALVEX_FTP_WRAP_SERVER"] = wrap.socket.getsockname()[0]
        env["TALVEX_FTP_HELD_PORT"] = str(holding.socket.getsockname()[1])
        result = subprocess.run([wine, exe, *arguments], env=env).returncode

        # The sessions as the client left them: a close it made shortly before its end
        # may still be on its way.
        deadline = time.monotonic() + 2
        while time.monotonic() < deadline:
            logins, closed, most_open = sessions.counts()
            held_logins, held_closed, _ = held_sessions.counts()
            if closed == logins and held_closed == held_logins:
                break
            time.sleep(0.05)
        server.close_all()  # every server and every session still open
        hang.close()
        for c in held:
            c.close()
        handler_log.flush()
        with open(log_path) as f:
            log = f.read()
        os.remove(log_path)

    failures = []
    received = re.findall(r"<- (\w+)", log)
    if "PASV" in received or "EPSV" in received:
        failures.append("a passive data connection was asked for")
    if "STOR" in received and "PORT" not in received and "EPRT" not in received:
        failures.append("stored without an active data connection")
    print(f"ftp server: {logins} logins, {closed} sessions closed by the client, "
          f"at most {most_open} open at once, "
          f"{received.count('STOR')} stores, {received.count('PORT')} PORT")
    if closed < logins:
        failures.append(f"{logins - closed} sessions left open")
    if held_closed < held_logins:
        failures.append(f"{held_logins - held_closed} sessions left open on the holding server")
    # A session left open shows even when the end of the process closes it later: the next
    # one logs in beside it.
    if most_open > 1:
        failures.append(f"{most_open} sessions open at once")
    for f in failures:
        print("FAIL", f)
    return result or (1 if failures else 0)


if __name__ == "__main__":
    sys.exit(main())
