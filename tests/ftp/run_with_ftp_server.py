#!/usr/bin/env python3
"""Runs a Windows test program against a real FTP server (pyftpdlib) on 127.0.0.1, plus a
server that accepts connections and never answers, then checks the FTP server's log:
every data connection was active (PORT, never PASV) and every session that logged in
was closed.

  run_with_ftp_server.py WINE TEST_EXE [test arguments...]

The test program learns the servers from TALVEX_FTP_PORT, TALVEX_FTP_HANG_PORT and
TALVEX_FTP_HOME (the server's home folder as Wine names it), user "camera", password
"s3cret". With TALVEX_FTP_ON_21=1 the same server also listens on the default FTP port 21
when that port can be had (root, and nothing else on it); the test program then finds
TALVEX_FTP_DEFAULT_PORT=21."""
import logging
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading

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
        handler = FTPHandler
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
        threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.2}, daemon=True).start()
        hang, held = hanging_server()

        env["TALVEX_FTP_PORT"] = str(port)
        env["TALVEX_FTP_HANG_PORT"] = str(hang.getsockname()[1])
        env["TALVEX_FTP_HOME"] = "Z:" + os.path.realpath(home).replace("/", "\\")
        result = subprocess.run([wine, exe, *arguments], env=env).returncode

        server.close_all()
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
    logins = len(re.findall(r"USER 'camera' logged in", log))
    closed = len(re.findall(r"FTP session closed", log))
    print(f"ftp server: {logins} logins, {closed} sessions closed, "
          f"{received.count('STOR')} stores, {received.count('PORT')} PORT")
    if closed < logins:
        failures.append(f"{logins - closed} sessions left open")
    for f in failures:
        print("FAIL", f)
    return result or (1 if failures else 0)


if __name__ == "__main__":
    sys.exit(main())
