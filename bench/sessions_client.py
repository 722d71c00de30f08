"""Opens many client sessions, each with a few values, on a few keep-alive connections.

Usage: sessions_client.py PORT COUNT [VALUES]  (run as the server's account)
Prints the number of sessions opened and the seconds it took.
"""
import http.client
import ssl
import sys
import threading
import time

CONNECTIONS = 4


def post(connection, path, session=None):
    headers = {"X-VYR-sessionId": session} if session else {}
    connection.request("POST", path, headers=headers)
    answer = connection.getresponse()
    return answer.status, answer.read()


def open_sessions(port, count, values, opened):
    context = ssl._create_unverified_context()  # loopback, the benchmark's own authority
    connection = http.client.HTTPSConnection("127.0.0.1", port, context=context)
    for _ in range(count):
        status, session = post(connection, "/hash/OPEN_SESSION")
        if status != 200:
            sys.exit(f"OPEN_SESSION: {status} {session[:200]!r}")
        for index in range(values):
            path = f"/SET_SESSION_VAR?key=k{index}&value=value-{index}-{'x' * 24}"
            status, text = post(connection, path, session.decode())
            if status != 200:
                sys.exit(f"SET_SESSION_VAR: {status} {text[:200]!r}")
        opened.append(session)


def main():
    port, count = int(sys.argv[1]), int(sys.argv[2])
    values = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    opened = []
    started = time.monotonic()
    share = [count // CONNECTIONS + (1 if i < count % CONNECTIONS else 0) for i in range(CONNECTIONS)]
    threads = [threading.Thread(target=open_sessions, args=(port, n, values, opened)) for n in share]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    print(f"{len(opened)} {time.monotonic() - started:.1f}")


if __name__ == "__main__":
    main()
