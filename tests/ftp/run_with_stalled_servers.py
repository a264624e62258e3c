#!/usr/bin/env python3
"""Runs a Windows test program once for each kind of FTP server that fails a client, on a
port of 127.0.0.1:

  silent         accepts the connection and never sends its greeting
  stalled-store  logs the client in and never answers the store
  undrained      answers the store, connects the data connection and never reads from it
  refused        nothing listens

  run_with_stalled_servers.py WINE TEST_EXE [test arguments...]

The test program learns the kind from TALVEX_FTP_STALL and the port from TALVEX_FTP_PORT.
It steers the server through files in the folder TALVEX_FTP_CONTROL (named as Wine sees
it): "working" replaces the failing server by a real one (pyftpdlib, user "camera",
password "s3cret", home TALVEX_FTP_HOME) on the same port; "failing" puts the failing
server back. Each request is answered by a file of the same name plus ".done"."""
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

KINDS = ["silent", "stalled-store", "undrained", "refused"]


class FailingServer:
    """A small FTP server that fails its client in one way, holding every socket open."""

    def __init__(self, kind, port):
        self.kind = kind
        self.held = []
        self.listener = None
        if kind == "refused":
            return
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(16)
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.held.append(connection)
            if self.kind != "silent":
                threading.Thread(target=self._talk, args=(connection,), daemon=True).start()

    def _talk(self, connection):
        reply = lambda text: connection.sendall((text + "\r\n").encode())
        data_address = None
        try:
            reply("220 ready")
            buffer = b""
            while True:
                chunk = connection.recv(4096)
                if not chunk:
                    return
                buffer += chunk
                while b"\r\n" in buffer:
                    line, buffer = buffer.split(b"\r\n", 1)
                    verb, _, argument = line.decode(errors="replace").partition(" ")
                    verb = verb.upper()
                    if verb == "USER":
                        reply("331 password please")
                    elif verb == "PASS":
                        reply("230 logged in")
                    elif verb == "PORT":
                        numbers = [int(n) for n in argument.split(",")]
                        data_address = (".".join(map(str, numbers[:4])), numbers[4] * 256 + numbers[5])
                        reply("200 PORT ok")
                    elif verb in ("PASV", "EPSV"):
                        reply("502 active only")
                    elif verb == "PWD":
                        reply('257 "/"')
                    elif verb == "STOR":
                        if self.kind == "stalled-store":
                            continue  # never a word again
                        data = socket.socket()
                        data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
                        data.connect(data_address)
                        self.held.append(data)
                        reply("150 sending")
                        # Nothing is read from the data connection, and no 226 follows.
                    elif verb == "QUIT":
                        reply("221 bye")
                        return
                    else:
                        reply("200 ok")
        except OSError:
            return

    def close(self):
        if self.listener:
            self.listener.close()
        for s in self.held:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()
        self.held.clear()


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def working_server(port, home):
    authorizer = DummyAuthorizer()
    authorizer.add_user("camera", "s3cret", home, perm="elradfmw")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    for _ in range(100):
        try:
            server = FTPServer(("127.0.0.1", port), Handler)
            break
        except OSError:
            time.sleep(0.05)
    threading.Thread(target=server.serve_forever, kwargs={"timeout": 0.1}, daemon=True).start()
    return server


def run_kind(wine, exe, arguments, kind):
    with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as control:
        os.mkdir(os.path.join(home, "cam"))
        port = free_port()
        servers = {"failing": FailingServer(kind, port), "working": None}
        finished = threading.Event()

        def steer():
            while not finished.is_set():
                for request in ("working", "failing"):
                    path = os.path.join(control, request)
                    if not os.path.exists(path):
                        continue
                    os.remove(path)
                    if request == "working":
                        servers["failing"].close()
                        servers["working"] = working_server(port, home)
                    else:
                        servers["working"].close_all()
                        servers["failing"] = FailingServer(kind, port)
                    open(path + ".done", "w").close()
                time.sleep(0.05)

        steering = threading.Thread(target=steer, daemon=True)
        steering.start()
        env = dict(os.environ)
        env["TALVEX_FTP_STALL"] = kind
        env["TALVEX_FTP_PORT"] = str(port)
        env["TALVEX_FTP_HOME"] = "Z:" + os.path.realpath(home).replace("/", "\\")
        env["TALVEX_FTP_CONTROL"] = "Z:" + os.path.realpath(control).replace("/", "\\")
        print(f"== server kind {kind} on port {port}", flush=True)
        result = subprocess.run([wine, exe, *arguments], env=env).returncode
        finished.set()
        steering.join()
        servers["failing"].close()
        if servers["working"]:
            servers["working"].close_all()
        return result


def main():
    wine, exe, *arguments = sys.argv[1:]
    failed = [kind for kind in KINDS if run_kind(wine, exe, arguments, kind) != 0]
    for kind in failed:
        print("FAIL with the server kind", kind)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
