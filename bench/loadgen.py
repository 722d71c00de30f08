"""The benchmark's own client for the rows wrk cannot time: keep-alive connections speaking
HTTP/1.1 over TLS as a page would, timed per module round trip rather than per request, plus
the session filler, the mixed traffic with bad input, and the load on the machine (processes
and loopback sockets) that the identity lookup must not feel.

Usage (run as the server's account, except hog):
  loadgen.py trips PORT SESSIONS SECONDS OUT      hash/SHA256 round trips; per-trip ms to OUT
  loadgen.py requests PORT CONNS SECONDS METHOD PATH   per-request ms percentiles
  loadgen.py sessions PORT COUNT VARS PROCS       opens COUNT sessions, VARS values each
  loadgen.py connect PORT COUNT                   COUNT new connections, one request each
  loadgen.py mixed PORT REQUESTS PROCS            mixed traffic with malformed and vanishing clients
  loadgen.py hog PROCESSES SOCKETS READY          holds that load while the file READY it writes exists
  loadgen.py stats                                p50 p99 count of the numbers on stdin
"""
import ctypes
import multiprocessing
import os
import random
import resource
import signal
import socket
import ssl
import subprocess
import sys
import time

CONTEXT = ssl._create_unverified_context()  # loopback, the bench's own throwaway authority
HOST = "127.0.0.1"


class Connection:
    """One keep-alive TLS connection; responses read by Content-Length or chunks."""

    def __init__(self, port):
        raw = socket.create_connection((HOST, port), timeout=30)
        raw.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sock = CONTEXT.wrap_socket(raw)
        self.buffer = b""

    def close(self):
        self.sock.close()

    def request(self, method, path, headers=None, body=b""):
        lines = [f"{method} {path} HTTP/1.1", f"Host: {HOST}"]
        lines += [f"{name}: {value}" for name, value in (headers or {}).items()]
        lines.append(f"Content-Length: {len(body)}")
        self.sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode() + body)
        return self.response()

    def _fill(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise EOFError("connection closed")
        self.buffer += chunk

    def _take_line(self):
        while b"\r\n" not in self.buffer:
            self._fill()
        line, _, self.buffer = self.buffer.partition(b"\r\n")
        return line

    def _take(self, size):
        while len(self.buffer) < size:
            self._fill()
        data, self.buffer = self.buffer[:size], self.buffer[size:]
        return data

    def response(self):
        while b"\r\n\r\n" not in self.buffer:
            self._fill()
        head, _, self.buffer = self.buffer.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        status = int(lines[0].split()[1])
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(b":")
            headers[name.strip().lower().decode()] = value.strip().decode()
        if headers.get("transfer-encoding", "").lower() == "chunked":
            body = b""
            while size := int(self._take_line().split(b";")[0], 16):
                body += self._take(size)
                self._take_line()
            self._take_line()
        else:
            body = self._take(int(headers.get("content-length", "0")))
        return status, headers, body


class Client:
    """A page's view: one connection and one session."""

    def __init__(self, port):
        self.connection = Connection(port)
        status, _, body = self.connection.request("POST", "/OPEN_SESSION")
        if status != 200:
            raise RuntimeError(f"OPEN_SESSION answered {status}")
        self.session = body.decode()

    def call(self, path, extra=None):
        headers = {"X-VYR-sessionId": self.session}
        headers.update(extra or {})
        return self.connection.request("POST", path, headers)

    def trip(self):
        """POST hash -> 202, then GET_RESULT until 200; the number of requests it took."""
        status, headers, _ = self.call("/hash/SHA256?data=benchmark")
        if status != 202:
            raise RuntimeError(f"hash answered {status}")
        command, requests = headers["x-vyr-cmdid"], 1
        while True:
            requests += 1
            status, _, _ = self.call("/GET_RESULT", {"X-VYR-cmdId": command})
            if status == 200:
                return requests
            if status != 202:
                raise RuntimeError(f"GET_RESULT answered {status}")


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))] if ordered else float("nan")


def run_parallel(count, target, *args):
    with multiprocessing.Pool(count) as pool:
        return pool.starmap(target, [(index,) + args for index in range(count)])


def trips_worker(_, port, seconds):
    client, times = Client(port), []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        start = time.perf_counter_ns()
        client.trip()
        times.append((time.perf_counter_ns() - start) / 1e6)
    return times


def trips(port, sessions, seconds, out):
    times = sum(run_parallel(int(sessions), trips_worker, int(port), float(seconds)), [])
    grid = [float(step) for step in range(1, 100)] + [99.0 + step / 10 for step in range(1, 10)] + [99.99]
    with open(out, "w", encoding="ascii") as data:
        for share in grid:
            data.write(f"{share:.2f} {percentile(times, share / 100):.4f}\n")
    print(f"{percentile(times, 0.5):.3f} {percentile(times, 0.99):.3f} {len(times) / float(seconds):.1f}")


def requests_worker(_, port, seconds, method, path):
    connection, times = Connection(port), []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        start = time.perf_counter_ns()
        connection.request(method, path)
        times.append((time.perf_counter_ns() - start) / 1e6)
    return times


def requests(port, conns, seconds, method, path):
    times = sum(run_parallel(int(conns), requests_worker, int(port), float(seconds), method, path), [])
    print(f"{percentile(times, 0.5):.3f} {percentile(times, 0.99):.3f}")


def sessions_worker(_, port, count, values):
    connection = Connection(port)
    for number in range(count):
        status, _, body = connection.request("POST", "/OPEN_SESSION")
        if status != 200:
            raise RuntimeError(f"OPEN_SESSION answered {status}")
        for key in range(values):
            path = f"/SET_SESSION_VAR?key=k{key}&value=value-{key}-{number:08d}"
            connection.request("POST", path, {"X-VYR-sessionId": body.decode()})
    return count


def sessions(port, count, values, procs):
    start, procs = time.monotonic(), int(procs)
    share = [int(count) // procs + (1 if index < int(count) % procs else 0) for index in range(procs)]
    with multiprocessing.Pool(procs) as pool:
        pool.starmap(sessions_worker, [(0, int(port), part, int(values)) for part in share])
    print(f"{time.monotonic() - start:.1f}")


def connect(port, count):
    for _ in range(int(count)):
        connection = Connection(int(port))
        connection.request("POST", "/SERVER_VERSION")
        connection.close()


# Bad input: each sends what a broken or hostile page might, on a connection of its own.
def malformed(port, kind):
    texts = [
        b"GARBAGE\r\n\r\n",
        b"POST /SERVER_VERSION HTTP/1.1\r\nHost: x\r\nContent-Length: -5\r\n\r\n",
        b"POST /\xff\xfe%00../../etc HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n",
        b"POST /SERVER_VERSION HTTP/1.1\r\n" + b"X-Long: " + b"a" * 70000 + b"\r\n\r\n",
    ]
    connection = Connection(port)
    try:
        connection.sock.sendall(texts[kind % len(texts)])
        connection.response()
    except (OSError, EOFError, ValueError, IndexError):
        pass  # an answer is not owed to bad input, only the server's survival
    finally:
        connection.close()


def vanish(port, kind):
    if kind % 3 == 0:  # gone before TLS
        socket.create_connection((HOST, port), timeout=5).close()
        return
    raw = socket.create_connection((HOST, port), timeout=5)
    if kind % 3 == 1:  # gone in the middle of the handshake
        raw.sendall(b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + os.urandom(40))
        raw.close()
        return
    sock = CONTEXT.wrap_socket(raw)  # gone in the middle of the request
    sock.sendall(b"POST /SERVER_VERSION HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nabc")
    sock.close()


def mixed_worker(index, port, count):
    rng, client, done, bad = random.Random(index), Client(port), 0, 0
    while done < count:
        pick = rng.random()
        if pick < 0.02:
            malformed(port, rng.randrange(100))
            done, bad = done + 1, bad + 1
        elif pick < 0.04:
            vanish(port, rng.randrange(100))
            done, bad = done + 1, bad + 1
        elif pick < 0.30:
            done += client.trip()
        elif pick < 0.40:
            client.call(f"/SET_SESSION_VAR?key=k{rng.randrange(4)}&value={rng.randrange(10**6)}")
            done += 1
        elif pick < 0.70:
            client.connection.request("POST", "/SERVER_VERSION")
            done += 1
        else:
            client.connection.request("GET", "/status")
            done += 1
    client.connection.close()
    return done, bad


def mixed(port, total, procs):
    share = int(total) // int(procs)
    results = run_parallel(int(procs), mixed_worker, int(port), share)
    print(f"{sum(r[0] for r in results)} {sum(r[1] for r in results)}")


def hog(processes, sockets, ready):
    """Extra processes and connected loopback socket pairs; the children die with us or in 10 min."""
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    libc = ctypes.CDLL(None, use_errno=True)
    pr_set_pdeathsig = 1
    children = [
        subprocess.Popen(["sleep", "600"], preexec_fn=lambda: libc.prctl(pr_set_pdeathsig, signal.SIGKILL))
        for _ in range(int(processes))
    ]
    listener = socket.socket()
    listener.bind((HOST, 0))
    listener.listen(1024)
    held = [listener]
    for _ in range(int(sockets) // 2):
        held.append(socket.create_connection(listener.getsockname()))
        held.append(listener.accept()[0])

    with open(ready, "w", encoding="ascii") as marker:
        marker.write(f"{len(children)} {len(held) - 1}\n")
    # Held until the bench takes the marker away (its work directory goes at exit too), and
    # never longer than the children live.
    deadline = time.monotonic() + 590
    while os.path.exists(ready) and time.monotonic() < deadline:
        time.sleep(0.2)
    for child in children:
        child.kill()


def stats():
    values = [float(line) for line in sys.stdin if line.strip()]
    print(f"{percentile(values, 0.5):.1f} {percentile(values, 0.99):.1f} {len(values)}")


if __name__ == "__main__":
    modes = {"trips": trips, "requests": requests, "sessions": sessions, "connect": connect,
             "mixed": mixed, "hog": hog, "stats": stats}
    modes[sys.argv[1]](*sys.argv[2:])
