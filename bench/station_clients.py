"""HTTP clients of a station started with --listen, for bench/station_bench.sh.

  station_clients.py PORT watch    Prometheus scraping /metrics every second
                                   and a live page fetching /status.json every
                                   1.5 s; prints /metrics answer times at the end
  station_clients.py PORT idle N   N connections held open that send nothing;
                                   one the station closes is opened again

Runs until SIGTERM, then prints its figures. Sends only to 127.0.0.1."""
import signal
import socket
import statistics
import sys
import time

stop = False


def on_term(*_):
    global stop
    stop = True


def get(port, path):
    """One GET on a new connection: the seconds until the whole answer."""
    start = time.perf_counter()
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n".encode())
        while s.recv(65536):
            pass
    return time.perf_counter() - start


def watch(port):
    times, next_scrape, next_page = [], time.monotonic(), time.monotonic()
    while not stop:
        now = time.monotonic()
        if now >= next_scrape:
            times.append(get(port, "/metrics"))
            next_scrape += 1.0
        if now >= next_page:
            get(port, "/status.json")
            next_page += 1.5
        time.sleep(max(0.0, min(next_scrape, next_page) - time.monotonic()))
    if times:
        times.sort()
        print(f"  /metrics answer ms over {len(times)} scrapes: median "
              f"{statistics.median(times) * 1000:.2f}, worst {times[-1] * 1000:.2f}")


def idle(port, count):
    connections, reopened = [], 0
    while not stop:
        alive = []
        for s in connections:
            s.setblocking(False)
            try:
                closed = s.recv(1) == b""
            except BlockingIOError:
                closed = False
            except OSError:
                closed = True
            if closed:
                s.close()
            else:
                alive.append(s)
        reopened += len(connections) - len(alive)
        while len(alive) < count and not stop:
            try:
                alive.append(socket.create_connection(("127.0.0.1", port), timeout=5))
            except OSError:
                break
        connections = alive
        time.sleep(1.0)
    print(f"  {count} idle connections held; {reopened} closed by the station and opened again")


signal.signal(signal.SIGTERM, on_term)
port = int(sys.argv[1])
if sys.argv[2] == "watch":
    watch(port)
else:
    idle(port, int(sys.argv[3]))
