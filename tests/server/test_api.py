"""traxctl serve through HTTP: every endpoint, bad input, each refusal, each
simulated fault. Each server runs on a free loopback port and the simulated
controller keeps its state in a file of the test's own.

    TRAXCTL=build/linux/tools/traxctl python3 -m pytest tests/server
"""
import http.client
import json
import os
import re
import signal
import socket
import subprocess
import threading
import time

import pytest

TRAXCTL = os.environ.get("TRAXCTL", os.path.join(os.path.dirname(__file__), "../../build/linux/tools/traxctl"))


class Server:
    def __init__(self, args, env, tmp_path):
        environment = {k: v for k, v in os.environ.items() if not k.startswith(("TRAX_SIM_", "TRAX_LOG"))}
        environment["TRAX_SIM_STATE"] = str(tmp_path / "controller.state")
        environment.update(env)
        self.env = environment
        # A file, not a pipe: the simulator's trace (TRAX_SIM_TRACE) can be
        # long, and a full pipe would stall the server.
        self.stderr_path = tmp_path / ("stderr-%d.txt" % len(list(tmp_path.glob("stderr-*.txt"))))
        with open(self.stderr_path, "w") as stderr:
            self.process = subprocess.Popen([TRAXCTL, "serve", "--port", "0", *args], env=environment,
                                            stdout=subprocess.PIPE, stderr=stderr, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"http://([^/]+)/(\?token=(\w+))?", line)
        assert found, "no address printed: " + line + self.errors()
        self.host = found.group(1)
        self.port = int(self.host.rsplit(":", 1)[1])
        self.token = found.group(3)

    def request(self, method, path, body=None, headers=None, host=None, origin=True, raw_body=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
        connection.putheader("Host", host if host is not None else self.host)
        sent = dict(headers or {})
        data = raw_body if raw_body is not None else (None if body is None else json.dumps(body).encode())
        if method == "POST":
            sent.setdefault("Content-Type", "application/json")
        # The page's own requests prove where they come from; origin=False
        # sends none, as a script or another site's <img> would.
        if origin:
            sent.setdefault("Origin", "http://" + (host if host is not None else self.host))
        for name, value in sent.items():
            connection.putheader(name, value)
        if data is not None:
            connection.putheader("Content-Length", str(len(data)))
        connection.endheaders(data)
        response = connection.getresponse()
        text = response.read().decode()
        connection.close()
        kind = response.getheader("Content-Type") or ""
        return response.status, json.loads(text) if kind.startswith("application/json") else text, response

    def get(self, path, **kw):
        status, body, _ = self.request("GET", path, **kw)
        return status, body

    def post(self, path, body=None, **kw):
        status, body, _ = self.request("POST", path, {} if body is None else body, **kw)
        return status, body

    def errors(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def raw(self, data):
        """Sends bytes as they are; the whole reply, or b"" when the server closed without one."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=30) as s:
            s.sendall(data)
            reply = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return reply
                reply += chunk

    def calls(self):
        return self.get("/api/status")[1]["calls"]

    def stop(self):
        self.process.send_signal(signal.SIGINT)
        return self.process.wait(timeout=10)


@pytest.fixture
def serve(tmp_path):
    started = []

    def start(*args, env=None):
        server = Server(list(args), env or {}, tmp_path)
        started.append(server)
        return server

    yield start
    for s in started:
        if s.process.poll() is None:
            s.stop()


@pytest.fixture
def server(serve):
    return serve()


def test_reads_answer_with_json(server):
    status, values = server.get("/api/values")
    assert status == 200 and values["A"]["status"] == "valid" and isinstance(values["A"]["value"], float)
    status, figure = server.get("/api/figure?head=B")
    assert status == 200 and figure["head"] == "B" and len(figure["values"]) == 7 and len(figure["integers"]) == 4
    status, light = server.get("/api/light?head=A&selector=2")
    assert status == 200 and light["selector"] == 2 and len(light["profile"]) == 1024 and len(light["light"]) == 4
    assert all(0 <= p <= 255 for p in light["profile"]) and max(light["profile"]) > 0
    status, info = server.get("/api/info")
    names = [s["name"] for s in info["settings"]]
    assert status == 200 and "offset" in names and "panel-lock" in names and info["readOnly"] is False
    status, control = server.get("/api/control")
    assert status == 200 and control["panel"] in ("A", "B", "both") and 0 <= control["program"] <= 7
    status, log = server.get("/api/log")
    assert status == 200 and any(c["function"] == "TRAX_GetLight" and c["ok"] for c in log["calls"])


def test_page_and_its_scripts_come_from_the_program(server):
    for path, kind in [("/", "text/html"), ("/app.js", "text/javascript"), ("/style.css", "text/css"),
                       ("/uPlot.iife.min.js", "text/javascript"), ("/uPlot.min.css", "text/css"),
                       ("/favicon.ico", "image/svg+xml")]:
        status, body, response = server.request("GET", path)
        assert status == 200 and response.getheader("Content-Type").startswith(kind) and len(body) > 100, path
        assert "default-src 'self'" in response.getheader("Content-Security-Policy")
    assert server.get("/index.html")[0] == 404
    assert server.get("/etc/passwd")[0] == 404


def test_storage_run_and_csv_match_traxctl(server):
    assert server.post("/api/storage/setup", {"target": 0, "count": 300, "cycle": 0}) == (
        200, {"target": 0, "count": 300, "cycle": 0})
    assert server.get("/api/storage/status")[1] == {"storing": False, "A": 0, "B": 0}
    assert server.post("/api/storage/start")[0] == 200
    assert server.post("/api/storage/stop")[0] == 200
    status, data = server.get("/api/storage/data?head=A")
    assert status == 200 and data["count"] == 300 and len(data["values"]) == 300
    status, limited = server.get("/api/storage/data?head=B&max=10")
    assert status == 200 and limited["count"] == 10
    status, csv, response = server.request("GET", "/api/storage/data?head=A&format=csv")
    assert status == 200 and response.getheader("Content-Type").startswith("text/csv")
    # The same controller state, read by traxctl in its own process.
    path = os.path.join(os.path.dirname(server.env["TRAX_SIM_STATE"]), "A.csv")
    cli = subprocess.run([TRAXCTL, "storage", "read", "A", "--csv", path], env=server.env,
                         capture_output=True, text=True)
    assert cli.returncode == 0, cli.stderr
    # The server saw the run start and stop, traxctl in its own process did not.
    times = re.compile(r"^# (start|stop): .*$", re.M)
    assert re.search(r"^# start: \d{4}-\d\d-\d\dT", csv, re.M) and re.search(r"^# stop: \d{4}-", csv, re.M)
    with open(path, newline="") as f:
        cli_csv = f.read()
    assert times.sub("", csv) == times.sub("", cli_csv) and "\nindex,status,value,unit\n0,valid," in csv and "\n299,valid," in csv


def test_setting_written_and_read_back(server):
    status, written = server.post("/api/settings", {"setting": "offset", "head": "B", "values": {"offset": 1234}})
    assert status == 200 and written == {"setting": "offset", "head": "B", "values": {"offset": 1234},
                                         "readBack": True}
    assert server.get("/api/settings?setting=offset&head=B")[1]["settings"][0]["values"] == {"offset": 1234}
    status, written = server.post("/api/settings", {"setting": "able-min-max", "head": "A", "values": [10, 20]})
    assert status == 200 and written["values"] == {"min": 10, "max": 20}
    status, written = server.post("/api/settings", {"setting": "program", "values": 3})
    assert status == 200 and written["head"] is None and written["values"] == {"program": 3}
    status, written = server.post("/api/settings", {"setting": "panel-lock", "values": {"locked": 1}})
    assert status == 200 and written["readBack"] is False
    status, everything = server.get("/api/settings")
    heads = {(s["setting"], s["head"]) for s in everything["settings"]}
    assert status == 200 and ("offset", "A") in heads and ("offset", "B") in heads and ("program", None) in heads
    assert ("panel-lock", None) not in heads


def test_control_actions(server):
    for body in [
        {"action": "zero", "head": "A", "on": True}, {"action": "zero", "head": "both", "on": False},
        {"action": "timing", "head": "B", "on": True}, {"action": "reset", "head": "both"},
        {"action": "panel", "head": "B"}, {"action": "lock", "on": False}, {"action": "program", "number": 5},
        {"action": "able-start", "head": "A"}, {"action": "able-stop"}, {"action": "able-start", "head": "B"},
        {"action": "able-cancel"}, {"action": "mode", "mode": "measure"},
    ]:
        status, reply = server.post("/api/control", body)
        assert status == 200 and reply == {"done": body["action"]}, (body, reply)
    assert server.get("/api/control")[1] == {"panel": "B", "program": 5}


def test_figure_clear(server):
    assert server.post("/api/figure/clear") == (200, {"cleared": True})


# Bad input: a 4xx naming what was wrong, and not one library call made.
@pytest.mark.parametrize("method,path,body,status,words", [
    ("GET", "/api/figure", None, 400, "head"),
    ("GET", "/api/figure?head=C", None, 400, "'C' is not A or B"),
    ("GET", "/api/light?head=A&selector=4", None, 400, "selector"),
    ("GET", "/api/light?head=A&selector=x", None, 400, "selector"),
    ("GET", "/api/storage/data?head=A&max=0", None, 400, "max"),
    ("GET", "/api/storage/data?head=A&max=65537", None, 400, "max"),
    ("GET", "/api/storage/data?head=A&format=xml", None, 400, "format"),
    ("GET", "/api/settings?setting=nonsense", None, 400, "unknown setting"),
    ("GET", "/api/settings?setting=panel-lock", None, 400, "written but not read"),
    ("GET", "/api/settings?setting=program&head=A", None, 400, "takes no head"),
    ("GET", "/api/settings?head=A", None, 400, "head goes with setting"),
    ("GET", "/api/log?after=-1", None, 400, "after"),
    ("GET", "/api/live?rate=0", None, 400, "rate"),
    ("GET", "/api/live?rate=1000", None, 400, "rate"),
    ("POST", "/api/storage/setup", {"count": 0}, 400, "count"),
    ("POST", "/api/storage/setup", {"count": 65537}, 400, "count"),
    ("POST", "/api/storage/setup", {"target": "1"}, 400, "target"),
    ("POST", "/api/storage/setup", {"targets": 1}, 400, "unknown member 'targets'"),
    ("POST", "/api/storage/start", {"now": True}, 400, "unknown member"),
    ("POST", "/api/settings", {"setting": "offset", "values": {"offset": 1}}, 400, "head"),
    ("POST", "/api/settings", {"setting": "offset", "head": "A", "values": {"offset": 1000000}}, 400, "out of range"),
    ("POST", "/api/settings", {"setting": "offset", "head": "A", "values": {"offst": 1}}, 400, "no value 'offst'"),
    ("POST", "/api/settings", {"setting": "offset", "head": "A", "values": {"offset": 1.5}}, 400, "offset"),
    ("POST", "/api/settings", {"setting": "calc-method", "head": "A", "values": [1]}, 400, "takes 2 values"),
    ("POST", "/api/settings", {"setting": "able-min-max", "head": "A", "values": [30, 20]}, 400, "above"),
    ("POST", "/api/settings", {"setting": "program", "head": "A", "values": 1}, 400, "takes no head"),
    ("POST", "/api/settings", {"setting": "offset", "head": "A"}, 400, "values"),
    ("POST", "/api/control", {"action": "explode"}, 400, "unknown action"),
    ("POST", "/api/control", {"action": "program", "number": 8}, 400, "number"),
    ("POST", "/api/control", {"action": "zero", "head": "A", "on": 1}, 400, "true or false"),
    ("POST", "/api/control", {"action": "able-start", "head": "both"}, 400, "A or B"),
    ("POST", "/api/control", {"action": "mode", "mode": "sleep"}, 400, "mode"),
    ("POST", "/api/control", [1, 2], 400, "JSON object"),
    ("POST", "/api/control", None, 400, "not valid JSON"),
    # Bytes that are not UTF-8, and UTF-8 cut short, echoed safely in every parameter.
    ("GET", "/api/figure?head=%FF", None, 400, "'\\xFF' is not A or B"),
    ("GET", "/api/figure?head=%C3", None, 400, "'\\xC3' is not A or B"),
    ("GET", "/api/light?head=%E2%82", None, 400, "is not A or B"),
    ("GET", "/api/light?head=A&selector=%FF", None, 400, "selector: '\\xFF' is not a whole number"),
    ("GET", "/api/storage/data?head=A&format=%FF%FE", None, 400, "format"),
    ("GET", "/api/storage/data?head=A&max=%80", None, 400, "max"),
    ("GET", "/api/settings?setting=%FF", None, 400, "unknown setting"),
    ("GET", "/api/settings?setting=offset&head=%F0%9F", None, 400, "head"),
    ("GET", "/api/log?after=%FF", None, 400, "after"),
    ("POST", "/api/settings-file?dry_run=%FF", {"format": "trax-settings", "version": 1}, 400, "dry_run"),
    ("POST", "/api/settings", {"setting": "a" * 59 + "\u00e9"}, 400, "unknown setting"),
    ("POST", "/api/settings", {"setting": "offset", "head": "x" + "\u00e9" * 60}, 400, "head"),
    ("POST", "/api/control", {"action": "x" * 39 + "\u20ac"}, 400, "unknown action"),
    ("POST", "/api/control", {"action": "mode", "mode": "x" + "\u00e9" * 30}, 400, "mode"),
    ("POST", "/api/storage/setup", {"x" * 59 + "\u00e9": 1}, 400, "unknown member"),
    ("POST", "/api/settings", b'{"setting":"\xff"}', 400, "not UTF-8"),
    # Numbers beyond every range, as sent.
    ("POST", "/api/settings", {"setting": "offset", "head": "A", "values": {"offset": 18446744073709551516}}, 400,
     "offset: 18446744073709551516 is out of range"),
    ("POST", "/api/settings", {"setting": "offset", "head": "A", "values": [9223372036854775808]}, 400,
     "9223372036854775808 is out of range"),
    ("POST", "/api/storage/setup", {"count": 18446744073709551615}, 400, "count: 18446744073709551615 is out of"),
    ("POST", "/api/control", {"action": "program", "number": 18446744073709551615}, 400, "18446744073709551615"),
    ("POST", "/api/settings", b'{"setting":"offset","head":"A","values":{"offset":1e999}}', 400,
     "line 1, column 56: 1e999 is beyond the range of any number"),
    ("GET", "/api/live?rate=1e-300", None, 400, "rate: 1e-300 is out of range"),
    ("GET", "/api/live?rate=0.000000001", None, 400, "rate"),
    # Nesting deeper than the limit, refused while parsing, the subtree never echoed.
    ("POST", "/api/settings", b'{"setting":"offset","head":"A","values":{"offset":' + b"[" * 7000 + b"1" +
     b"]" * 7000 + b"}}", 400, "values.offset[0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0][0]"),
    ("POST", "/api/settings", {"setting": "offset", "head": "A", "values": {"offset": [[[[[[1]]]]]]}}, 400,
     "offset: a whole number is expected, not an array"),
])
def test_bad_input_is_refused_before_any_call(server, method, path, body, status, words):
    before = server.calls()
    raw = b"{not json" if method == "POST" and body is None else body if isinstance(body, bytes) else None
    got, reply, _ = server.request(method, path, None if raw else body, raw_body=raw)
    assert got == status and words in reply["error"], reply
    assert len(reply["error"]) < 400, reply
    assert server.calls() == before
    assert server.process.poll() is None


def test_refusals(serve):
    server = serve()
    before = server.calls()
    body = {"action": "lock", "on": True}
    cases = [
        # DNS rebinding: a foreign name for this address.
        (dict(host="evil.example:%d" % server.port), 421, "does not name this server"),
        (dict(host="127.0.0.1:1"), 421, "does not name this server"),
        (dict(host=""), 421, "does not name this server"),
        # Another site's page in the same browser.
        (dict(headers={"Origin": "http://evil.example"}), 403, "cross-site"),
        (dict(headers={"Origin": "null"}), 403, "cross-site"),
        (dict(origin=False), 403, "Origin"),
        (dict(headers={"Content-Type": "text/plain"}), 415, "JSON"),
    ]
    for kw, status, words in cases:
        got, reply, _ = server.request("POST", "/api/control", body, **kw)
        assert got == status and words in reply["error"], (kw, reply)
    assert server.get("/api/values", headers={"Origin": "http://evil.example"})[0] == 403
    assert server.get("/api/values", host="attacker.test")[0] == 421
    assert server.get("/api/storage/start")[0] == 405
    assert server.get("/api/values", host="localhost:%d" % server.port)[0] == 200
    assert server.request("PUT", "/api/values")[0] == 405
    assert server.calls() == before + 1  # only the one accepted read


@pytest.mark.parametrize("path,status", [
    ("/api/../etc/passwd", 400), ("/./api/values", 400), ("//api/values", 400), ("/api/values%2f", 400),
    ("/" + "a" * 3000, 414), ("/nothing", 404), ("/api/nothing", 404),
])
def test_paths_are_checked(server, path, status):
    assert server.get(path)[0] == status


def test_sizes_are_limited(server):
    before = server.calls()
    big = {"setting": "offset", "head": "A", "values": {"offset": 1}, "pad": "x" * 20000}
    assert server.request("POST", "/api/settings", big)[0] == 413
    assert server.get("/api/values", headers={"X-Big": "y" * 9000})[0] == 431
    assert server.calls() == before


def test_read_only_refuses_every_change(serve):
    server = serve("--read-only")
    assert server.get("/api/info")[1]["readOnly"] is True
    before = server.calls()
    for path, body in [("/api/control", {"action": "lock", "on": True}), ("/api/storage/start", {}),
                       ("/api/settings", {"setting": "program", "values": 1}), ("/api/figure/clear", {})]:
        status, reply = server.post(path, body)
        assert status == 403 and "read-only" in reply["error"]
    assert server.calls() == before
    assert server.get("/api/values")[0] == 200


def test_token_is_needed_by_every_request(serve):
    server = serve("--token", "s3cret-token")
    for path in ["/", "/api/values", "/api/live"]:
        assert server.get(path)[0] == 401
    assert server.get("/api/values", headers={"Authorization": "Bearer wrong-token"})[0] == 401
    assert server.get("/api/values", headers={"Authorization": "Bearer s3cret-token"})[0] == 200
    assert server.get("/api/values?token=s3cret-token")[0] == 200
    status, _, response = server.request("GET", "/?token=s3cret-token")
    assert status == 200 and "trax_token=s3cret-token" in response.getheader("Set-Cookie")
    assert server.get("/api/values", headers={"Cookie": "trax_token=s3cret-token"})[0] == 200
    assert server.get("/api/values", headers={"Cookie": "x_trax_token=s3cret-token"})[0] == 401


def test_listening_beyond_loopback_makes_a_token(serve):
    server = serve("--bind", "0.0.0.0")
    assert server.token and len(server.token) == 32
    assert server.get("/api/values")[0] == 401
    assert server.get("/api/values?token=" + server.token)[0] == 200


def test_bad_options_are_usage_errors():
    for args in (["--port", "70000"], ["--rate", "0"], ["--bind", "nowhere"], ["--token", "short"], ["extra"]):
        r = subprocess.run([TRAXCTL, "serve", *args], capture_output=True, text=True, timeout=10)
        assert r.returncode == 2, (args, r.stderr)


def test_live_stream(serve):
    server = serve("--rate", "50")
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
    connection.request("GET", "/api/live?rate=25", headers={"Host": server.host})
    response = connection.getresponse()
    assert response.status == 200 and response.getheader("Content-Type") == "text/event-stream"
    samples = []
    while len(samples) < 5:
        line = response.fp.readline().decode()
        if line.startswith("data: "):
            samples.append(json.loads(line[6:]))
    connection.close()
    assert all(s["A"]["status"] == "valid" for s in samples)
    times = [s["t"] for s in samples]
    assert times == sorted(times) and len(set(times)) == 5


# Each simulated fault: a 502 naming the call and its reason.
@pytest.mark.parametrize("env,path,function,words", [
    ({"TRAX_SIM_STARTUP_FAIL": "1"}, "/api/values", "TRAX_GetCalcData", "did not start"),
    ({"TRAX_SIM_ERROR_REPLY": "3", "TRAX_SIM_ERROR_COMMAND": "20"}, "/api/values", "TRAX_GetCalcData", "error 3"),
    ({"TRAX_SIM_BUSY_COMMAND": "24"}, "/api/light?head=A", "TRAX_GetLight", "busy"),
    ({"TRAX_SIM_ERROR_REPLY": "1", "TRAX_SIM_ERROR_COMMAND": "46"}, "/api/figure?head=B", "TRAX_GetFigureData",
     "error 1"),
    ({"TRAX_SIM_ERROR_REPLY": "1", "TRAX_SIM_ERROR_COMMAND": "42"}, "/api/storage/status",
     "TRAX_DataStorageGetStatus", "error 1"),
    ({"TRAX_SIM_FAIL_AFTER": "0"}, "/api/values", "TRAX_GetCalcData", ""),
])
def test_faults_give_502_with_function_and_reason(serve, env, path, function, words):
    server = serve(env=env)
    status, reply = server.get(path)
    assert status == 502 and reply["function"] == function and reply["reason"], reply
    assert words in reply["reason"], reply
    log = server.get("/api/log")[1]["calls"]
    assert any(c["function"] == function and not c["ok"] and c["reason"] for c in log)


def test_failed_live_poll_is_an_event(serve):
    server = serve(env={"TRAX_SIM_ERROR_REPLY": "3", "TRAX_SIM_ERROR_COMMAND": "20"})
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
    connection.request("GET", "/api/live", headers={"Host": server.host})
    response = connection.getresponse()
    event = None
    while event is None:
        line = response.fp.readline().decode()
        if line.startswith("event: "):
            event = line[7:].strip()
    connection.close()
    assert event == "failure"


def test_ctrl_c_ends_with_130(serve):
    server = serve()
    assert server.get("/api/values")[0] == 200
    assert server.stop() == 130


def test_settings_file_saved_compared_and_loaded(server):
    status, text, response = server.request("GET", "/api/settings-file")
    assert status == 200 and "attachment" in response.getheader("Content-Disposition")
    saved = text if isinstance(text, dict) else json.loads(text)
    assert saved["format"] == "trax-settings" and saved["heads"]["A"]["offset"] == 0
    changed = json.loads(json.dumps(saved))
    changed["heads"]["B"]["offset"] = 4321
    status, dry = server.post("/api/settings-file?dry_run=1", changed)
    assert status == 200 and dry["dryRun"] is True
    assert dry["differences"] == [{"setting": "offset", "head": "B", "controller": {"offset": 0},
                                   "file": {"offset": 4321}}]
    assert server.get("/api/settings?setting=offset&head=B")[1]["settings"][0]["values"] == {"offset": 0}
    status, loaded = server.post("/api/settings-file", changed)
    assert status == 200 and loaded["differences"] == [] and loaded["backInMeasurement"] is True
    assert {"setting": "offset", "head": "B"} in loaded["written"]
    # The settings-file layer's own calls are in the log like every other call.
    logged = [c["function"] for c in server.get("/api/log")[1]["calls"]]
    assert "TRAX_SetOffset" in logged and "TRAX_GetProgramNo" in logged and logged.count("TRAX_SetMode") >= 2
    assert server.get("/api/settings?setting=offset&head=B")[1]["settings"][0]["values"] == {"offset": 4321}


@pytest.mark.parametrize("mutate,words", [
    (lambda f: f["heads"]["A"].update(offset=1000000), "heads.A.offset"),
    (lambda f: f["heads"]["A"].update(nonsense=1), "nonsense"),
    (lambda f: f.update(format="other"), "format"),
])
def test_bad_settings_file_is_refused_before_any_call(server, mutate, words):
    status, text, _ = server.request("GET", "/api/settings-file")
    document = text if isinstance(text, dict) else json.loads(text)
    mutate(document)
    before = server.calls()
    for path in ("/api/settings-file", "/api/settings-file?dry_run=1"):
        status, reply = server.post(path, document)
        assert status == 400 and words in reply["error"], reply
    assert server.calls() == before
    assert server.post("/api/settings-file?dry_run=2", document)[0] == 400
    assert server.request("POST", "/api/settings-file", raw_body=b" " * (300 * 1024))[0] == 413


# Headers no check can trust: each refused with a JSON reply, the server still up, no call made.
@pytest.mark.parametrize("method,path,headers,status,words", [
    ("GET", "/api/values", [("Host", "127.0.0.1\xff")], 421, "\\xFF"),
    ("GET", "/api/values", [("Host", "{host}"), ("Origin", "http://\xe9vil.example")], 403, "cross-site"),
    ("GET", "/api/values", [("Host", "{host}"), ("Origin", "http://{host}" + "\xc3" * 120)], 403, "cross-site"),
    ("GET", "/api/values", [("Host", "{host}"), ("Host", "evil.com")], 400, "more than one Host"),
    ("GET", "/api/values", [("Host", "evil.com"), ("Host", "{host}")], 400, "more than one Host"),
    ("POST", "/api/control", [("Host", "{host}"), ("Origin", "http://{host}"), ("Origin", "http://evil.com")], 400,
     "more than one Origin"),
    ("POST", "/api/control", [("Host", "{host}"), ("Origin", "http://{host}"), ("Sec-Fetch-Site", "cross-site")], 403,
     "Sec-Fetch-Site"),
])
def test_untrustworthy_headers_are_refused(server, method, path, headers, status, words):
    before = server.calls()
    lines = ["%s %s HTTP/1.1" % (method, path)]
    for name, value in headers:
        lines.append("%s: %s" % (name, value.replace("{host}", server.host)))
    body = b'{"action":"lock","on":true}' if method == "POST" else b""
    if method == "POST":
        lines += ["Content-Type: application/json", "Content-Length: %d" % len(body)]
    reply = server.raw(("\r\n".join(lines + ["Connection: close", "", ""])).encode("latin-1") + body)
    head, _, text = reply.partition(b"\r\n\r\n")
    assert head.startswith(b"HTTP/1.1 %d " % status), reply[:300]
    assert words in json.loads(text.decode())["error"]
    assert server.process.poll() is None and server.calls() == before


# Reading settings switches the controller to setting mode, which interrupts
# measurement: another site's <img>, a script without Origin and a read-only
# viewer must not make it, and the simulator sees no switch (00 04 07 06).
@pytest.mark.parametrize("path", ["/api/settings?setting=offset&head=A", "/api/settings", "/api/settings-file",
                                  "/api/control"])
def test_reads_that_leave_measurement_are_guarded(serve, path):
    server = serve(env={"TRAX_SIM_TRACE": "1"})
    assert server.get(path, origin=False)[0] == 403
    assert server.get(path, origin=False, headers={"Sec-Fetch-Site": "cross-site"})[0] == 403
    assert server.get(path, headers={"Sec-Fetch-Site": "same-site"})[0] == 403
    read_only = serve("--read-only", env={"TRAX_SIM_TRACE": "1"})
    status, reply = read_only.get(path)
    assert status == 403 and "read-only" in reply["error"]
    assert server.calls() == 0 and read_only.calls() == 0
    assert server.stop() == 130 and read_only.stop() == 130
    assert "00 04 07 06" not in server.errors() + read_only.errors()
    # The page's own reads prove their origin.
    proven = serve()
    assert proven.get(path, origin=False, headers={"Sec-Fetch-Site": "same-origin"})[0] == 200
    assert proven.get(path, origin=False, headers={"X-Trax-Request": "page"})[0] == 200


def test_setting_messages_name_the_setting_once(server):
    status, reply = server.post("/api/settings", {"setting": "offset", "head": "B", "values": {"offset": 1000000}})
    assert status == 400 and reply["error"] == "offset: 1000000 is out of range -999999..999999"
    status, reply = server.post("/api/settings", {"setting": "offset", "head": "B", "values": {"offset": "x"}})
    assert status == 400 and reply["error"] == 'offset: a whole number is expected, not "x"'


def test_a_load_that_did_not_happen_is_not_done(serve):
    server = serve(env={"TRAX_SIM_ERROR_REPLY": "7", "TRAX_SIM_ERROR_COMMAND": "6"})
    document = {"format": "trax-settings", "version": 1, "heads": {"B": {"offset": 12}}}
    status, reply = server.post("/api/settings-file", document)
    assert status == 502 and reply["written"] == [] and "setting mode" in reply["error"], reply
    assert reply["function"] == "TRAX_SetMode" and reply["notWritten"] == [{"setting": "offset", "head": "B"}]
    log = server.get("/api/log")[1]["calls"]
    assert any(c["function"] == "TRAX_SetMode" and not c["ok"] for c in log), log


def test_settings_file_calls_are_in_the_log(server):
    document = {"format": "trax-settings", "version": 1, "heads": {"A": {"offset": 7}}}
    assert server.post("/api/settings-file", document)[0] == 200
    functions = [c["function"] for c in server.get("/api/log")[1]["calls"]]
    assert functions == ["TRAX_SetMode", "TRAX_SetOffset", "TRAX_GetOffset", "TRAX_SetMode"], functions


def test_ctrl_c_stops_a_load_at_the_next_setting(serve):
    # 20 ms per exchange: the whole file would take seconds.
    server = serve(env={"TRAX_SIM_LATENCY_US": "20000", "TRAX_SIM_TRACE": "1"})
    status, saved, _ = server.request("GET", "/api/settings-file")
    document = json.loads(saved) if isinstance(saved, str) else saved
    document["heads"]["A"]["offset"] = 5
    replies = []
    load = threading.Thread(target=lambda: replies.append(server.post("/api/settings-file", document)))
    before = server.errors().count("trax-sim > 00 04 07 06")
    load.start()
    # Wait for the load's switch to setting mode, as the simulator traces it.
    while server.errors().count("trax-sim > 00 04 07 06") == before:
        time.sleep(0.01)
    server.process.send_signal(signal.SIGINT)
    load.join(timeout=60)
    assert server.process.wait(timeout=60) == 130
    status, reply = replies[0]
    assert status == 503 and "Ctrl-C" in reply["error"] and reply["backInMeasurement"] is True, reply
    assert reply["notWritten"] and len(reply["written"]) < 40


def test_viewers_have_their_own_cap_and_requests_keep_room(serve):
    server = serve("--max-viewers", "3", "--idle-timeout", "0.3")
    viewers = []
    for _ in range(3):
        c = http.client.HTTPConnection("127.0.0.1", server.port, timeout=10)
        c.request("GET", "/api/live", headers={"Host": server.host})
        response = c.getresponse()  # kept: the stream lives as long as the response
        assert response.status == 200
        viewers.append((c, response))
    status, reply = server.get("/api/live")
    assert status == 503 and "viewers" in reply["error"]
    # Idle connections beyond the request cap: the longest idle makes room.
    idle = [socket.create_connection(("127.0.0.1", server.port)) for _ in range(80)]
    assert server.get("/api/values")[0] == 200
    # One that sends nothing is closed after the idle time.
    idle[-1].settimeout(30)
    assert idle[-1].recv(100) == b""
    for s in idle:
        s.close()
    for c, _ in viewers:
        c.close()
    assert server.process.poll() is None


def test_a_flood_of_viewers_leaves_the_api_answering(server):
    viewers = []
    refused = 0
    for _ in range(260):
        s = socket.create_connection(("127.0.0.1", server.port), timeout=30)
        s.sendall(("GET /api/live HTTP/1.1\r\nHost: %s\r\n\r\n" % server.host).encode())
        head = s.recv(200)
        refused += head.startswith(b"HTTP/1.1 503")
        viewers.append(s)
    assert refused == 10
    assert server.get("/api/values")[0] == 200
    for s in viewers:
        s.close()
