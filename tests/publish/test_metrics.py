"""GET /metrics of traxctl serve scraped by a real Debian prometheus (config
made here), checked through prometheus's own HTTP query API; the serve
route's access rules; and the publisher's own /metrics (--metrics-port)."""
import http.client
import json
import os
import re
import shutil
import signal
import subprocess
import time
import urllib.parse

import pytest

from conftest import TRAXCTL, free_port, wait_for

PROMETHEUS = shutil.which("prometheus")
TOKEN = "scrape-token-1234"


def start_serve(tmp_path, *args, env=None):
    environment = {k: v for k, v in os.environ.items() if not k.startswith(("TRAX_SIM_", "TRAX_LOG"))}
    environment["TRAX_SIM_STATE"] = str(tmp_path / "controller.state")
    environment.update(env or {})
    server = subprocess.Popen([TRAXCTL, "serve", "--port", "0", "--unit", "mm", *args], env=environment,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    host = re.search(r"http://([^/?]+)/", server.stdout.readline()).group(1)
    return server, host


def get(host, path, headers=None, connect=None):
    connection = http.client.HTTPConnection(connect or host, timeout=20)
    connection.putrequest("GET", path, skip_host=True)
    for name, value in {"Host": host, **(headers or {})}.items():
        connection.putheader(name, value)
    connection.endheaders()
    response = connection.getresponse()
    return response.status, response.getheader("Content-Type"), response.read().decode()


def samples(text, name):
    """{labels text: value} of one metric in the text format."""
    found = {}
    for line in text.splitlines():
        m = re.match(name + r"(\{[^}]*\})? (\S+)$", line)
        if m:
            found[m.group(1) or ""] = float(m.group(2))
    return found


@pytest.fixture
def serve(tmp_path):
    started = []

    def start(*args, env=None):
        server, host = start_serve(tmp_path, *args, env=env)
        started.append(server)
        return host

    yield start
    for s in started:
        s.send_signal(signal.SIGINT)
        s.wait(timeout=10)


def test_serve_metrics_text_and_access_rules(serve):
    host = serve("--token", TOKEN, env={"TRAX_SIM_ERROR_REPLY": "5", "TRAX_SIM_ERROR_COMMAND": "42"})
    bearer = {"Authorization": "Bearer " + TOKEN}
    status, kind, text = get(host, "/metrics", bearer)
    assert status == 200 and kind.startswith("text/plain; version=0.0.4")
    assert samples(text, "trax_up") == {"": 1.0}
    values = samples(text, "trax_head_value")
    assert set(values) == {'{head="A",unit="mm"}', '{head="B",unit="mm"}'}
    assert samples(text, "trax_head_status")['{head="A",status="valid"}'] == 1.0
    assert samples(text, "trax_controller_mode")['{mode="measurement"}'] == 1.0
    # Storage status (command 42) answers error 5: counted by kind, and
    # the storage lines are left out rather than shown as zeros.
    assert samples(text, "trax_call_failures_total")[
        '{function="TRAX_DataStorageGetStatus",kind="mode"}'] >= 1
    assert not samples(text, "trax_storage_count")
    buckets = samples(text, "trax_call_duration_seconds_bucket")
    assert buckets['{function="TRAX_GetCalcData",le="+Inf"}'] >= 1
    # The API's rules: the token, and only this server's Host.
    assert get(host, "/metrics")[0] == 401
    assert get(host, "/metrics", {"Authorization": "Bearer wrong-token-99"})[0] == 401
    assert get("evil.example:80", "/metrics", bearer, connect=host)[0] in (403, 421)


def test_prometheus_scrapes_serve_and_answers_queries(serve, tmp_path):
    if PROMETHEUS is None:
        pytest.skip("needs prometheus (scripts/install-deps.sh mqtt)")
    # The 31st exchange fails once: a failure for prometheus to count.
    host = serve("--token", TOKEN, env={"TRAX_SIM_FAIL_AFTER": "30"})
    port = free_port()
    config = tmp_path / "prometheus.yml"
    config.write_text(f"""
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: trax
    metrics_path: /metrics
    authorization:
      type: Bearer
      credentials: {TOKEN}
    static_configs:
      - targets: ["{host}"]
""")
    log = open(tmp_path / "prometheus.log", "w")
    prometheus = subprocess.Popen([PROMETHEUS, f"--config.file={config}", f"--storage.tsdb.path={tmp_path}/tsdb",
                                   f"--web.listen-address=127.0.0.1:{port}"], stdout=log, stderr=log)
    try:
        def query(expression):
            path = "/api/v1/query?query=" + urllib.parse.quote(expression)
            try:
                status, _, body = get(f"127.0.0.1:{port}", path)
            except OSError:
                return []
            return json.loads(body)["data"]["result"] if status == 200 else []

        # Make the failing exchange happen while prometheus watches.
        wait_for(lambda: query('up{job="trax"} == 1'), 60, "prometheus to scrape serve")
        for _ in range(40):
            get(host, "/api/values", {"Authorization": "Bearer " + TOKEN})
        wait_for(lambda: query("sum(trax_call_failures_total) >= 1"), 30, "a failure count")
        heads = {r["metric"]["head"]: float(r["value"][1]) for r in query("trax_head_value")}
        assert set(heads) == {"A", "B"} and 1.0 < heads["A"] < 1.5 and -2.3 < heads["B"] < -1.7
        assert query('trax_head_value{unit="mm"}')
        failures = query("trax_call_failures_total")
        assert failures[0]["metric"]["function"] and failures[0]["metric"]["kind"]
    finally:
        prometheus.terminate()
        prometheus.wait(timeout=20)
        log.close()


def test_publisher_metrics_port(servers):
    broker = servers.broker()
    port = free_port()
    pub = servers.publisher(f"mqtt://127.0.0.1:{broker.port}", "line/m1", "--no-settings", "--rate", "20",
                            "--metrics-port", str(port))
    host = f"127.0.0.1:{port}"
    wait_for(lambda: "connected to" in pub.errors(), 15, "the publisher")
    time.sleep(1)
    status, kind, text = get(host, "/metrics")
    assert status == 200 and kind.startswith("text/plain; version=0.0.4")
    assert samples(text, "trax_publish_connected") == {"": 1.0}
    assert samples(text, "trax_publish_messages_total")[""] >= 5
    assert "" in samples(text, "trax_publish_queue_messages")
    assert samples(text, "trax_calls_total")['{function="TRAX_GetCalcData"}'] >= 5
    assert get("attacker.example", "/metrics", connect=host)[0] == 421
    assert get(host, "/other")[0] == 404
    assert pub.interrupt() == 130
