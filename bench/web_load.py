#!/usr/bin/python3
"""A bounded load check of traxctl serve, on loopback only, ending by itself:
CLIENTS browser-less viewers on the live stream and RPS API requests a second
for SECONDS, and with --hostile a stream of hostile requests (bytes that are
not UTF-8, numbers beyond every range, nesting without end, repeated headers,
cross-site reads, garbage) beside them. Fails when the server ends, its
memory or thread count grows, two library calls overlapped, a request failed
or a hostile one was not refused; reports the stream's rate and the API
requests' latency (median, p99, max).

    bench/web_load.py TRAXCTL [--seconds 60] [--clients 20] [--rps 10] [--rate 50] [--hostile 0]
"""
import argparse
import http.client
import json
import os
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time


def proc_status(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return int(fields["VmRSS"].split()[0]), int(fields["Threads"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("traxctl")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--clients", type=int, default=20)
    parser.add_argument("--rps", type=float, default=10)
    parser.add_argument("--rate", type=int, default=50)
    parser.add_argument("--hostile", type=float, default=0, help="hostile requests a second")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="trax-load-")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("TRAX_SIM_", "TRAX_LOG"))}
    env["TRAX_SIM_STATE"] = os.path.join(work, "controller.state")
    server = subprocess.Popen([args.traxctl, "serve", "--port", "0", "--rate", str(args.rate),
                               "--max-viewers", str(max(250, args.clients))], env=env,
                              stdout=subprocess.PIPE, text=True)
    host = re.search(r"http://([^/]+)/", server.stdout.readline()).group(1)
    port = int(host.rsplit(":", 1)[1])
    stop = threading.Event()
    counts = [0] * args.clients
    failures = []

    def viewer(i):
        try:
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            c.request("GET", "/api/live", headers={"Host": host})
            r = c.getresponse()
            while not stop.is_set():
                line = r.fp.readline()
                if not line:
                    if not stop.is_set():
                        failures.append(f"viewer {i}: stream ended")
                    return
                if line.startswith(b"event: values"):
                    counts[i] += 1
            c.close()
        except Exception as e:  # noqa: BLE001 - every failure is reported
            if not stop.is_set():
                failures.append(f"viewer {i}: {e}")

    def get(path):
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        # The page's mark: reading settings or the program number needs it.
        c.request("GET", path, headers={"Host": host, "X-Trax-Request": "page"})
        r = c.getresponse()
        body = r.read()
        c.close()
        return r.status, body

    h = host.encode()
    deep = b'{"setting":"offset","head":"A","values":{"offset":' + b"[" * 7000 + b"]" * 7000 + b"}}"
    post = (lambda body, extra=b"": b"POST /api/settings HTTP/1.1\r\nHost: " + h + b"\r\nOrigin: http://" + h +
            b"\r\nContent-Type: application/json\r\n" + extra + b"Content-Length: " + str(len(body)).encode() +
            b"\r\n\r\n" + body)
    hostile_requests = [
        b"GET /api/figure?head=%FF HTTP/1.1\r\nHost: " + h + b"\r\n\r\n",
        b"GET /api/live?rate=1e-300 HTTP/1.1\r\nHost: " + h + b"\r\n\r\n",
        b"GET /api/values HTTP/1.1\r\nHost: " + h + b"\r\nHost: evil.com\r\n\r\n",
        b"GET /api/values HTTP/1.1\r\nHost: 127.0.0.1\xff\r\n\r\n",
        b"GET /api/settings?setting=offset&head=A HTTP/1.1\r\nHost: " + h + b"\r\nSec-Fetch-Site: cross-site\r\n\r\n",
        b"GET /api/settings-file HTTP/1.1\r\nHost: " + h + b"\r\n\r\n",
        post(deep),
        post(b'{"setting":"offset","head":"A","values":{"offset":18446744073709551516}}'),
        post(b'{"setting":"offset","head":"A","values":{"offset":1e999}}'),
        post(b'{"setting":"\xff"}'),
        b"\x00\xff garbage \r\n\r\n",
    ]
    hostile_sent = [0]

    def hostile():
        i = 0
        while not stop.is_set():
            data = hostile_requests[i % len(hostile_requests)]
            i += 1
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
                    s.sendall(data)
                    reply = s.recv(100)
                if not re.match(rb"HTTP/1\.1 4\d\d ", reply):
                    failures.append(f"hostile request {data[:40]!r}: {reply[:40]!r}")
            except OSError as e:
                if not stop.is_set():
                    failures.append(f"hostile request {data[:40]!r}: {e}")
            hostile_sent[0] += 1
            time.sleep(1 / args.hostile)

    threads = [threading.Thread(target=viewer, args=(i,), daemon=True) for i in range(args.clients)]
    if args.hostile > 0:
        threads.append(threading.Thread(target=hostile, daemon=True))
    for t in threads:
        t.start()
    time.sleep(1)  # the viewers connect; measured from here
    paths = ["/api/values", "/api/light?head=A", "/api/figure?head=B", "/api/storage/status", "/api/log",
             "/api/control", "/api/settings?setting=offset", "/"]
    samples = []
    start_counts = list(counts)
    started = time.monotonic()
    next_request = started
    next_sample = started
    requests = 0
    latencies = []
    while time.monotonic() - started < args.seconds:
        now = time.monotonic()
        if now >= next_sample:
            samples.append((now - started, *proc_status(server.pid)))
            next_sample += 1
        if now >= next_request:
            t0 = time.monotonic()
            status, _ = get(paths[requests % len(paths)])
            latencies.append(time.monotonic() - t0)
            if status != 200:
                failures.append(f"{paths[requests % len(paths)]}: HTTP {status}")
            requests += 1
            next_request += 1 / args.rps
        time.sleep(max(0, min(next_request, next_sample) - time.monotonic()))
    elapsed = time.monotonic() - started
    received = [counts[i] - start_counts[i] for i in range(args.clients)]
    health = json.loads(get("/api/status")[1])
    ended_early = server.poll() is not None
    stop.set()
    server.send_signal(signal.SIGINT)
    exit_status = server.wait(timeout=10)

    tenth = max(1, len(samples) // 10)
    rss_start = statistics.median(s[1] for s in samples[:tenth])
    rss_end = statistics.median(s[1] for s in samples[-tenth:])
    # The library runs a channel's I/O thread for the length of some calls, so
    # a sample may catch one more thread; growth shows in the fewest threads
    # of a stretch, which must be the same at the end as at the start.
    fifth = max(2, len(samples) // 5)
    threads_start = min(s[2] for s in samples[:fifth])
    threads_end = min(s[2] for s in samples[-fifth:])
    thread_counts = sorted({s[2] for s in samples})
    rates = [n / elapsed for n in received]
    report = {
        "seconds": round(elapsed, 1), "clients": args.clients, "requests": requests,
        "request_rate": round(requests / elapsed, 2),
        "request_latency_ms_median": round(statistics.median(latencies) * 1000, 1),
        "request_latency_ms_p99": round(sorted(latencies)[int(len(latencies) * 0.99)] * 1000, 1),
        "hostile_requests": hostile_sent[0], "server_ended_early": ended_early,
        "request_latency_ms_max": round(max(latencies) * 1000, 1),
        "server_rate_hz": args.rate,
        "stream_rate_hz_min": round(min(rates), 2), "stream_rate_hz_mean": round(statistics.mean(rates), 2),
        "rss_kib_start": rss_start, "rss_kib_end": rss_end,
        "threads_start": threads_start, "threads_end": threads_end, "threads_seen": thread_counts,
        "library_calls": health["calls"], "call_overlaps": health["overlaps"], "polls": health["polls"],
        "exit_status": exit_status, "failures": failures[:10],
    }
    print(json.dumps(report, indent=2))
    problems = []
    if health["overlaps"] != 0:
        problems.append("library calls overlapped")
    if threads_end > threads_start or max(thread_counts) > threads_start + 2:
        problems.append(f"thread count grew: {threads_start} at the start, {threads_end} at the end, "
                        f"seen {thread_counts}")
    # Allocator noise is a few hundred KiB; a leak per sample or request grows with the run.
    if rss_end > rss_start * 1.2 + 2048:
        problems.append(f"memory grew from {rss_start} to {rss_end} KiB")
    if failures:
        problems.append(f"{len(failures)} failures")
    if ended_early or exit_status != 130:
        problems.append(f"exit status {exit_status}, not 130")
    if problems:
        print("load check failed: " + "; ".join(problems), file=sys.stderr)
        return 1
    print("load check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
