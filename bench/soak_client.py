"""The soak run's traffic: until the deadline, well-behaved pages (sessions, session values,
hash jobs, some results never collected, some sessions left to time out) alongside hostile
clients (malformed requests, clients that vanish mid-request, handshakes that stall).
Counts go to standard output at the end, one "name value" line each.

Usage: soak_client.py PORT SECONDS  (run as the server's account; loopback only)
"""
import http.client
import random
import socket
import ssl
import struct
import sys
import threading
import time

HOST = "127.0.0.1"
CONTEXT = ssl._create_unverified_context()  # loopback, our own throwaway authority
counts = {}
counts_lock = threading.Lock()


def count(name):
    with counts_lock:
        counts[name] = counts.get(name, 0) + 1


class Page:
    """One keep-alive connection and its session."""

    def __init__(self, port):
        self.connection = http.client.HTTPSConnection(HOST, port, context=CONTEXT, timeout=30)
        self.session = self.post("/OPEN_SESSION")[1].decode()

    def post(self, path, headers=None):
        self.connection.request("POST", path, body=b"", headers=dict(headers or {}))
        answer = self.connection.getresponse()
        return answer.status, answer.read(), answer.getheader("X-VYR-cmdId")

    def command(self, path, extra=None):
        headers = {"X-VYR-sessionId": self.session}
        headers.update(extra or {})
        return self.post(path, headers)

    def job(self, collect):
        status, _, command = self.command("/hash/SHA256?data=soak%d" % random.randrange(1 << 30))
        if status != 202:
            count("job_refused_%d" % status)
            return
        count("jobs_started")
        if not collect:
            return
        while True:
            status, _, _ = self.command("/GET_RESULT", {"X-VYR-cmdId": command})
            if status != 202:
                count("results_collected" if status == 200 else "result_%d" % status)
                return


def page_loop(port, deadline):
    while time.time() < deadline:
        try:
            page = Page(port)
            count("sessions_opened")
            for i in range(random.randrange(1, 6)):
                page.command("/SET_SESSION_VAR?key=k%d&value=%s" % (i, "v" * random.randrange(1, 200)))
                count("values_set")
            for _ in range(random.randrange(1, 8)):
                page.job(collect=random.random() < 0.7)
            if random.random() < 0.5:
                page.command("/CLOSE_SESSION")
                count("sessions_closed")
            page.connection.close()
        except (OSError, http.client.HTTPException):
            count("page_errors")


def raw_tls(port):
    raw = socket.create_connection((HOST, port), timeout=10)
    return CONTEXT.wrap_socket(raw, server_hostname=HOST)


def malformed(port):
    tls = raw_tls(port)
    tls.sendall(random.choice([
        b"GARBAGE\r\n\r\n",
        b"POST / HTTP/9.9\r\nContent-Length: -4\r\n\r\n",
        b"POST /" + b"A" * 70000 + b" HTTP/1.1\r\n\r\n",
        b"POST /OPEN_SESSION HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\n\x00\xff\x00\xff\x00",
        bytes(random.randrange(256) for _ in range(512)),
    ]))
    try:
        tls.recv(4096)
    except OSError:
        pass
    tls.close()
    count("malformed")


def vanish(port):
    tls = raw_tls(port)
    tls.sendall(b"POST /OPEN_SESSION HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\nabc")
    # A reset rather than an orderly close: the client is simply gone.
    tls.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    tls.close()
    count("vanished")


def stalled_handshake(port):
    raw = socket.create_connection((HOST, port), timeout=10)
    raw.sendall(b"\x16\x03\x01\x00\xc8\x01")  # the start of a ClientHello, never finished
    time.sleep(random.uniform(0.5, 3))
    raw.close()
    count("stalled_handshakes")


def hostile_loop(port, deadline, kinds):
    while time.time() < deadline:
        try:
            random.choice(kinds)(port)
        except (OSError, ssl.SSLError):
            count("hostile_refused")
        time.sleep(random.uniform(0.05, 0.3))


def main():
    port, seconds = int(sys.argv[1]), float(sys.argv[2])
    deadline = time.time() + seconds
    workers = [threading.Thread(target=page_loop, args=(port, deadline)) for _ in range(4)]
    workers.append(threading.Thread(target=hostile_loop, args=(port, deadline, [malformed, vanish])))
    workers.append(threading.Thread(target=hostile_loop, args=(port, deadline, [stalled_handshake])))
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    for name in sorted(counts):
        print(name, counts[name])


if __name__ == "__main__":
    main()
