#!/usr/bin/python3
"""traxctl publish at 1000 samples/s into a local mosquitto: the publisher's
CPU and RSS over the run, end-to-end latency seen by a subscriber (sample
time to arrival, batching included), losses across a 10 s broker outage
within the spool bound, and the time a /metrics scrape takes (serve and
publish). Figures as JSON on stdout; nothing is asserted.

    bench/publish_load.py build/linux/tools/traxctl [--seconds 60] [--outage 10]
"""
import argparse
import datetime
import http.client
import json
import os
import re
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "publish"))
from conftest import Broker, Subscriber, free_port  # noqa: E402


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p / 100))] if ordered else None


def scrape_times(host, count=200, headers=None):
    times = []
    for _ in range(count):
        started = time.perf_counter()
        connection = http.client.HTTPConnection(host, timeout=10)
        connection.request("GET", "/metrics", headers={"Host": host, **(headers or {})})
        response = connection.getresponse()
        response.read()
        connection.close()
        times.append((time.perf_counter() - started) * 1000)
    return {"p50_ms": round(percentile(times, 50), 3), "p99_ms": round(percentile(times, 99), 3)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("traxctl")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--outage", type=float, default=10)
    parser.add_argument("--rate", type=int, default=1000)
    args = parser.parse_args()
    folder = Path(tempfile.mkdtemp(prefix="trax-publish-bench-"))
    broker = Broker(folder / "broker")
    sub = Subscriber(broker, "bench/pc/#", client_id="bench-subscriber")
    arrivals = []
    original = sub.client.on_message

    def on_message(client, userdata, message):
        arrivals.append((time.time(), message.topic, message.payload))
        original(client, userdata, message)

    sub.client.on_message = on_message
    env = {k: v for k, v in os.environ.items() if not k.startswith("TRAX_SIM_")}
    env["TRAX_SIM_STATE"] = str(folder / "controller.state")
    metrics_port = free_port()
    publisher = subprocess.Popen([args.traxctl, "publish", "--broker", f"mqtt://127.0.0.1:{broker.port}",
                                 "--topic", "bench/pc", "--rate", str(args.rate), "--no-settings", "--unit", "mm",
                                 "--spool", str(folder / "spool"), "--spool-max", "64M",
                                 "--metrics-port", str(metrics_port)],
                                env=env, stderr=open(folder / "publish.err", "w"))
    time.sleep(2)
    start_cpu, started = cpu_seconds(publisher.pid), time.monotonic()
    rss = []
    outage_at = args.seconds / 3
    outage_done = False
    outage_from = outage_to = 0.0
    while time.monotonic() - started < args.seconds:
        rss.append(rss_kib(publisher.pid))
        if not outage_done and time.monotonic() - started >= outage_at:
            outage_from = time.time()
            broker.stop()
            time.sleep(args.outage)
            broker.start()
            outage_done = True
            outage_to = time.time()
        time.sleep(1)
    cpu = cpu_seconds(publisher.pid) - start_cpu
    elapsed = time.monotonic() - started
    publish_scrape = scrape_times(f"127.0.0.1:{metrics_port}")
    time.sleep(15)  # after a 10 s outage the next attempt comes within 8 s; then the catch-up
    publisher.send_signal(signal.SIGINT)
    publisher.wait(timeout=30)
    time.sleep(1)

    latencies, live, seqs = [], [], []
    for received, topic, payload in arrivals:
        if not topic.endswith("/values"):
            continue
        message = json.loads(payload)
        seqs.append(message["seq"])
        for sample in message["samples"]:
            sent = datetime.datetime.strptime(sample["time"], "%Y-%m-%dT%H:%M:%S.%fZ").replace(
                tzinfo=datetime.timezone.utc).timestamp()
            latencies.append((received - sent) * 1000)
            # Samples taken during the outage and its catch-up wait by design:
            # counted, but kept out of the connected latency.
            if not outage_from - 0.5 <= sent <= outage_to + 10:
                live.append(latencies[-1])
    unique = sorted(set(seqs))
    missing = len(range(1, unique[-1] + 1)) - len(unique) if unique else None

    env_serve = dict(env, TRAX_SIM_STATE=str(folder / "serve.state"))
    serve = subprocess.Popen([args.traxctl, "serve", "--port", "0"], env=env_serve, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    host = re.search(r"http://([^/?]+)/", serve.stdout.readline()).group(1)
    serve_scrape = scrape_times(host)
    serve.send_signal(signal.SIGINT)
    serve.wait(timeout=10)
    sub.close()
    broker.stop()

    print(json.dumps({
        "rate_hz": args.rate,
        "seconds": round(elapsed, 1),
        "publisher_cpu_percent": round(100 * cpu / elapsed, 1),
        "rss_kib": {"first": rss[0], "max": max(rss), "last": rss[-1]},
        "samples_received": len(latencies),
        "latency_ms_connected": {"p50": round(percentile(live, 50), 2), "p99": round(percentile(live, 99), 2),
                                 "samples": len(live)},
        "samples_in_outage_and_catch_up": len(latencies) - len(live),
        "outage_seconds": args.outage,
        "values_messages": len(unique),
        "values_missing": missing,
        "duplicates": len(seqs) - len(unique),
        "scrape_publish_metrics": publish_scrape,
        "scrape_serve_metrics": serve_scrape,
    }, indent=2))


if __name__ == "__main__":
    main()
