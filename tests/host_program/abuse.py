"""Clients that abuse the view, for view_test.sh.

abuse.py PORT flood MB: one request whose headers go on for MB megabytes;
  prints the answer's status line, or "closed".
abuse.py PORT hold IDLE TRICKLING: IDLE connections that send nothing and
  TRICKLING ones that send a partial request and then a byte every half
  second; prints "ready" once all are open, and keeps them until killed.
"""
import socket
import sys
import time

port, mode = int(sys.argv[1]), sys.argv[2]
start = f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n".encode()


def connect():
    return socket.create_connection(("127.0.0.1", port))


if mode == "flood":
    s = connect()
    headers = b"".join(b"X-Flood-%d: %s\r\n" % (i, b"a" * 1000) for i in range(1000))
    try:
        s.sendall(start)
        for _ in range(int(sys.argv[3]) * 2**20 // len(headers)):
            s.sendall(headers)
    except OSError:
        pass  # refused before the end: as it should be
    s.settimeout(10)
    try:
        print((s.recv(200).split(b"\r\n")[0] or b"closed").decode())
    except OSError:
        print("closed")
elif mode == "hold":
    trickling = [connect() for _ in range(int(sys.argv[4]))]
    for s in trickling:
        s.sendall(start)
    idle = [connect() for _ in range(int(sys.argv[3]))]
    print("ready", flush=True)
    while True:
        time.sleep(0.5)
        for s in trickling:
            try:
                s.send(b"X")
            except OSError:
                pass
