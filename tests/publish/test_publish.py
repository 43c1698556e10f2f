"""traxctl publish against a real mosquitto, checked by an independent
subscriber: the topic tree, the retained status and its last will, broker
outages with and without room enough to keep everything, controller faults,
commands, and the ways a connection can be refused."""
import datetime
import http.client
import json
import os
import re
import signal
import subprocess
import time

import pytest

from conftest import TRAXCTL, first_occurrences, free_port, make_certificates, seqs

ISO_MS = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")


def url(broker, tls=False):
    return f"{'mqtts' if tls else 'mqtt'}://127.0.0.1:{broker.port}"


def test_topic_tree_retained_status_units_and_seqs(servers):
    broker = servers.broker()
    sub = servers.subscriber(broker, "line/pc1/#")
    pub = servers.publisher(url(broker), "line/pc1", "--rate", "20", "--unit", "mm")
    sub.wait(lambda s: len(s.on("values")) >= 20 and s.on("settings"), what="values and settings")

    status = sub.on("status")[-1][2]
    assert status["state"] == "online" and status["unit"] == "mm" and status["program"] == 0
    assert status["versions"]["library"] and status["versions"]["traxctl"] and "stand-in" in status["versions"]["driver"]
    assert ISO_MS.match(status["start"]) and ISO_MS.match(status["time"])

    values = [m[2] for m in sub.on("values")]
    assert seqs(sub.on("values"))[:20] == list(range(1, 21))
    for v in values:
        assert ISO_MS.match(v["time"]) and len(v["samples"]) == 1
        for head in ("A", "B"):
            reading = v["samples"][0][head]
            assert reading["status"] == "valid" and reading["unit"] == "mm" and isinstance(reading["value"], float)

    settings = sub.on("settings")[-1][2]
    assert settings["interruptedMeasurement"] is True and settings["settings"]["format"] == "trax-settings"
    assert "offset" in settings["settings"]["heads"]["A"]

    # A late subscriber gets the state topics retained, never the stream.
    late = servers.subscriber(broker, "line/pc1/#")
    late.wait(lambda s: s.on("status") and s.on("settings"), what="retained state")
    assert late.on("status")[0][1] and late.on("settings")[0][1]
    assert all(not m[1] for m in late.on("values"))

    assert pub.interrupt() == 130
    sub.wait(lambda s: s.on("status")[-1][2]["state"] == "offline", what="offline status")
    offline = sub.on("status")[-1][2]
    assert offline["reason"] == "stopped" and offline["seq"] > status["seq"]
    assert "stopped by Ctrl-C; everything was sent" in pub.errors()


def test_last_will_on_kill_minus_9(servers):
    broker = servers.broker()
    pub = servers.publisher(url(broker), "line/pc2", "--rate", "5", "--no-settings")
    sub = servers.subscriber(broker, "line/pc2/status")
    sub.wait(lambda s: s.on("status") and s.on("status")[-1][2]["state"] == "online", what="online")
    pub.process.send_signal(signal.SIGKILL)
    pub.process.wait(timeout=10)
    sub.wait(lambda s: s.on("status")[-1][2]["state"] == "offline", what="the last will")
    will = sub.on("status")[-1][2]
    assert will["reason"] == "connection lost" and will["start"] == sub.on("status")[0][2]["start"]
    # Kept by the broker for whoever asks later.
    late = servers.subscriber(broker, "line/pc2/status")
    late.wait(lambda s: s.on("status"), what="retained will")
    assert late.on("status")[0][1] and late.on("status")[0][2]["state"] == "offline"


def outage(servers, tmp_path, *args, seconds=10):
    """Publishes at 200 Hz, stops the broker for `seconds`, starts it again
    and stops the publisher once it has caught up; the subscriber's view."""
    broker = servers.broker()
    sub = servers.subscriber(broker, "line/pc3/#", client_id="outage-subscriber")
    pub = servers.publisher(url(broker), "line/pc3", "--rate", "200", "--no-settings", *args)
    sub.wait(lambda s: len(s.on("values")) >= 50, what="values before the outage")
    broker.stop()
    time.sleep(seconds)
    broker.start()
    sub.wait(lambda s: any(m[2].get("event") == "reconnected" for m in s.on("events")), timeout=45,
             what="the publisher's reconnect")
    time.sleep(2)
    assert pub.interrupt() == 130
    time.sleep(1)
    return sub, pub


def test_outage_loses_nothing_within_the_spool(servers, tmp_path):
    sub, pub = outage(servers, tmp_path, "--spool", str(tmp_path / "spool"), "--spool-max", "64M")
    got = seqs(sub.on("values"))
    order = first_occurrences(got)
    # Every seq once at least, in order; repeats only as QoS 1 allows.
    assert order == list(range(1, len(order) + 1)), "gap or reordering in values"
    assert len(got) - len(order) < 200
    assert not [m for m in sub.on("events") if m[2].get("event") == "spool-overflow"]
    reconnected = [m[2] for m in sub.on("events") if m[2].get("event") == "reconnected"][0]
    assert reconnected["downMs"] >= 9000 and reconnected["queued"] > 100
    # The samples' own times show the whole outage covered, without a hole.
    times = sorted({datetime.datetime.strptime(s["time"], "%Y-%m-%dT%H:%M:%S.%fZ")
                    for m in sub.on("values") for s in m[2]["samples"]})
    assert (times[-1] - times[0]).total_seconds() > 12
    assert max((b - a).total_seconds() for a, b in zip(times, times[1:])) < 1.0


def test_outage_beyond_the_spool_reports_the_gap(servers, tmp_path):
    sub, pub = outage(servers, tmp_path, "--spool", str(tmp_path / "spool"), "--spool-max", "100k")
    received = set(seqs(sub.on("values")))
    missing = set(range(1, max(received) + 1)) - received
    overflows = [m[2] for m in sub.on("events") if m[2].get("event") == "spool-overflow"]
    assert missing and overflows, "a 100k spool cannot hold 10 s at 200 Hz"
    reported = set()
    for o in overflows:
        r = o["topics"]["values"]
        reported |= set(range(r["firstSeq"], r["lastSeq"] + 1))
        assert o["dropped"] >= r["count"] + r["unconfirmed"]
    never_sent = sum(o["topics"]["values"]["count"] for o in overflows)
    unconfirmed = sum(o["topics"]["values"]["unconfirmed"] for o in overflows)
    # Dropped before they were sent: certainly missing. Sent without an
    # answer when the broker went: the broker may have taken them.
    assert never_sent <= len(missing) <= never_sent + unconfirmed, (never_sent, unconfirmed, len(missing))
    assert missing <= reported and len(reported) == never_sent + unconfirmed
    # The oldest went: what is left runs up to the newest without a hole.
    assert max(missing) < max(received) and min(missing) > 50


def test_spool_hands_unsent_messages_to_the_next_run(servers, tmp_path):
    spool = tmp_path / "spool"
    # Nothing listens there: everything goes to the spool.
    dead = servers.publisher(f"mqtt://127.0.0.1:{free_port()}", "line/pc4", "--rate", "100", "--no-settings",
                             "--spool", str(spool), "--connect-timeout", "60")
    time.sleep(2)
    dead.kill()  # kill -9: no flush, no goodbye
    assert any(f.name.startswith("seg-") for f in spool.iterdir())
    broker = servers.broker()
    sub = servers.subscriber(broker, "line/pc4/#")
    pub = servers.publisher(url(broker), "line/pc4", "--rate", "5", "--no-settings", "--spool", str(spool))
    sub.wait(lambda s: any(m[2].get("event") == "spool-recovered" for m in s.on("events")), what="recovery")
    recovered = [m[2] for m in sub.on("events") if m[2].get("event") == "spool-recovered"][0]
    assert recovered["messages"] > 0
    assert pub.interrupt() == 130


def test_ctrl_c_while_the_broker_is_away_keeps_the_queue_in_the_spool(servers, tmp_path):
    broker = servers.broker()
    pub = servers.publisher(url(broker), "line/pc16", "--rate", "50", "--no-settings", "--spool",
                            str(tmp_path / "spool"))
    sub = servers.subscriber(broker, "line/pc16/values")
    sub.wait(lambda s: s.on("values"), what="values")
    broker.stop()
    time.sleep(1)
    started = time.monotonic()
    assert pub.interrupt() == 130
    assert time.monotonic() - started < 6, "the flush is bounded"
    assert re.search(r"stopped by Ctrl-C; \d+ messages not sent \(kept in the spool", pub.errors()), pub.errors()


def test_storage_poll_failures_are_one_event(servers):
    broker = servers.broker()
    sub = servers.subscriber(broker, "line/pc17/#")
    pub = servers.publisher(url(broker), "line/pc17", "--storage", "--no-settings",
                            env={"TRAX_SIM_ERROR_REPLY": "7", "TRAX_SIM_ERROR_COMMAND": "42"})
    sub.wait(lambda s: [m for m in s.on("events") if m[2].get("function") == "TRAX_DataStorageGetStatus"],
             what="the storage poll's failure")
    time.sleep(2.5)
    failed = [m for m in sub.on("events") if m[2].get("function") == "TRAX_DataStorageGetStatus"]
    assert len(failed) == 1 and failed[0][2]["errorNumber"] == 7
    assert len(sub.on("values")) > 10, "values go on"
    assert pub.interrupt() == 130


def test_controller_faults_are_events_and_publishing_goes_on(servers):
    broker = servers.broker()
    sub = servers.subscriber(broker, "line/pc5/#")
    pub = servers.publisher(url(broker), "line/pc5", "--rate", "50", "--no-settings",
                            env={"TRAX_SIM_FAIL_AFTER": "40"})
    sub.wait(lambda s: any(m[2].get("event") == "controller-recovered" for m in s.on("events")),
             what="failure and recovery")
    failed = [m[2] for m in sub.on("events") if m[2].get("event") == "call-failed"][0]
    assert failed["function"] == "TRAX_GetCalcData" and failed["reason"]
    states = [m[2]["state"] for m in sub.on("status")]
    assert "failing" in states and states[-1] == "online"
    failing = [m[2] for m in sub.on("status") if m[2]["state"] == "failing"][0]
    assert failing["failure"]["function"] == "TRAX_GetCalcData"
    before = len(sub.on("values"))
    sub.wait(lambda s: len(s.on("values")) > before + 10, what="values after the recovery")
    assert pub.interrupt() == 130


def test_a_controller_that_keeps_failing_shows_on_status(servers):
    broker = servers.broker()
    sub = servers.subscriber(broker, "line/pc6/#")
    pub = servers.publisher(url(broker), "line/pc6", "--rate", "50", "--no-settings",
                            env={"TRAX_SIM_ERROR_REPLY": "5", "TRAX_SIM_ERROR_COMMAND": "20"})
    sub.wait(lambda s: s.on("status") and s.on("status")[-1][2]["state"] == "failing", what="failing status")
    status = sub.on("status")[-1][2]
    assert status["failure"]["function"] == "TRAX_GetCalcData" and status["failure"]["errorNumber"] == 5
    time.sleep(1)
    # One event for the run of identical failures, not one per call.
    assert len([m for m in sub.on("events") if m[2].get("event") == "call-failed"]) == 1
    assert pub.process.poll() is None
    assert pub.interrupt() == 130


# --- commands -----------------------------------------------------------------

def answer(sub, correlation, timeout=15):
    sub.wait(lambda s: [m for m in s.messages if m[0] == "replies/me" and m[3] == correlation], timeout=timeout,
             what="the answer to " + repr(correlation))
    return [m for m in sub.messages if m[0] == "replies/me" and m[3] == correlation][0][2]


def commander(servers, broker, prefix, **kw):
    sub = servers.subscriber(broker, "replies/me", **kw)
    sub.client.subscribe(prefix + "/#", qos=1)
    time.sleep(0.2)
    return sub


def test_commands_are_refused_unless_allowed(servers):
    broker = servers.broker()
    pub = servers.publisher(url(broker), "line/pc7", "--no-settings")
    sub = commander(servers, broker, "line/pc7")
    sub.wait(lambda s: s.on("status"), what="status")
    sub.request("line/pc7/cmd/zero", {"head": "A", "on": True}, "replies/me", b"c-1")
    reply = answer(sub, b"c-1")
    assert reply["status"] == 403 and "--allow-commands" in reply["error"]
    assert pub.interrupt() == 130


def test_allow_commands_needs_tls_and_a_login(servers, tmp_path):
    broker = servers.broker()
    pub = servers.publisher(url(broker), "line/pc8", "--allow-commands")
    code, cpu = pub.wait_rusage(10)
    assert code == 2 and "--allow-commands needs an mqtts:// broker and --username (or a client certificate)" in pub.errors()


def serve_error(tmp_path, path, body):
    """What traxctl serve answers to the same request: the refusal text to match."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("TRAX_SIM_")}
    env["TRAX_SIM_STATE"] = str(tmp_path / "serve.state")
    server = subprocess.Popen([TRAXCTL, "serve", "--port", "0"], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    try:
        host = re.search(r"http://([^/]+)/", server.stdout.readline()).group(1)
        connection = http.client.HTTPConnection(host, timeout=20)
        data = json.dumps(body).encode()
        connection.request("POST", path, data, {"Content-Type": "application/json", "Origin": "http://" + host,
                                                "Host": host})
        response = connection.getresponse()
        return response.status, json.loads(response.read())["error"]
    finally:
        server.send_signal(signal.SIGINT)
        server.wait(timeout=10)


# command, body, the API route that takes the same body
BAD_COMMANDS = [
    ("settings", {"setting": "offset", "head": "A", "values": {"offset": 1000000}}, "/api/settings"),
    ("settings", {"setting": "no-such", "head": "A", "values": 1}, "/api/settings"),
    ("settings", {"setting": "offset", "head": "C", "values": 1}, "/api/settings"),
    ("settings", {"setting": "able-min-max", "head": "A", "values": {"min": 50, "max": 10}}, "/api/settings"),
    ("settings", {"setting": "offset", "head": "A", "values": [1, 2]}, "/api/settings"),
    ("settings", {"setting": "offset", "head": "A", "values": {"offset": 1.5}}, "/api/settings"),
    ("settings", {"setting": "sampling-cycle", "head": "A", "values": 1}, "/api/settings"),
    ("settings", {"setting": "offset", "head": "A", "values": 1, "extra": 1}, "/api/settings"),
]


def test_commands_answer_with_correlation_and_the_apis_refusals(servers, tmp_path):
    broker = servers.broker()
    pub = servers.publisher(url(broker), "line/pc9", "--allow-commands", "--insecure-commands", "--rate", "5")
    sub = commander(servers, broker, "line/pc9")
    sub.wait(lambda s: s.on("settings"), what="settings at start")
    settings_before = len(sub.on("settings"))

    sub.request("line/pc9/cmd/settings", {"setting": "offset", "head": "A", "values": {"offset": 1234}},
                "replies/me", b"\x00\xffbinary")
    reply = answer(sub, b"\x00\xffbinary")
    assert reply == {"status": 200, "setting": "offset", "head": "A", "values": {"offset": 1234}, "readBack": True}
    # A change made through publish: the retained settings follow it.
    sub.wait(lambda s: len(s.on("settings")) > settings_before, what="settings after the change")
    assert sub.on("settings")[-1][2]["settings"]["heads"]["A"]["offset"] == 1234

    for n, (command, body, route) in enumerate(BAD_COMMANDS):
        correlation = f"bad-{n}".encode()
        sub.request(f"line/pc9/cmd/{command}", body, "replies/me", correlation)
        reply = answer(sub, correlation)
        status, error = serve_error(tmp_path, route, body)
        assert (reply["status"], reply["error"]) == (status, error), body

    sub.request("line/pc9/cmd/zero", {"head": "both", "on": True}, "replies/me", b"z")
    assert answer(sub, b"z") == {"status": 200, "done": "zero"}
    sub.request("line/pc9/cmd/storage-start", {}, "replies/me", b"s1")
    assert answer(sub, b"s1") == {"status": 200, "storing": True}
    sub.request("line/pc9/cmd/storage-stop", {}, "replies/me", b"s2")
    assert answer(sub, b"s2") == {"status": 200, "storing": False}
    commands = [m[2] for m in sub.on("events") if m[2].get("event") == "command"]
    assert {"command": "zero", "status": 200} in [{k: c[k] for k in ("command", "status")} for c in commands]
    assert pub.interrupt() == 130


def test_storage_runs_are_published_whole(servers):
    broker = servers.broker()
    pub = servers.publisher(url(broker), "line/pc15", "--storage", "--allow-commands", "--insecure-commands",
                            "--no-settings", "--unit", "um")
    sub = commander(servers, broker, "line/pc15")
    sub.wait(lambda s: s.on("status"), what="status")
    sub.request("line/pc15/cmd/storage-start", {}, "replies/me", b"go")
    assert answer(sub, b"go")["status"] == 200
    sub.wait(lambda s: s.on("storage"), what="the storage run")
    run = sub.on("storage")[0][2]
    assert run["seq"] == 1 and run["unit"] == "um" and ISO_MS.match(run["start"]) and ISO_MS.match(run["stop"])
    assert run["A"]["count"] == len(run["A"]["values"]) > 0 and run["B"]["count"] == run["A"]["count"]
    assert all(isinstance(v, float) or v in ("over+", "over-", "invalid") for v in run["A"]["values"])
    assert pub.interrupt() == 130


# payload, expected status, words in the error
HOSTILE = [
    (b"\xff\xfe not utf-8", 400, "not valid JSON"),
    (b"[" * 5000 + b"]" * 5000, 400, None),
    (b'{"a":' * 40 + b"1" + b"}" * 40, 400, "nests deeper"),
    (b'{"head": "A", "on": true, "pad": "' + b"x" * 20000 + b'"}', 413, "too large"),
    (b'"just a string"', 400, "must be a JSON object"),
    (b'{"head": "\xc3\x28", "on": true}', 400, "not valid JSON"),
]


def test_hostile_messages_get_clear_answers_and_change_nothing(servers):
    broker = servers.broker()
    pub = servers.publisher(url(broker), "line/pc10", "--allow-commands", "--insecure-commands", "--no-settings")
    sub = commander(servers, broker, "line/pc10")
    sub.wait(lambda s: s.on("status"), what="status")
    for n, (payload, status, words) in enumerate(HOSTILE):
        correlation = f"h-{n}".encode()
        sub.request("line/pc10/cmd/zero", payload, "replies/me", correlation)
        reply = answer(sub, correlation)
        assert reply["status"] == status and (words is None or words in reply["error"]), (payload[:40], reply)
    # Wildcards and other topics as a reply address are not published to.
    sub.request("line/pc10/cmd/zero", {"head": "A", "on": False}, "replies/#", b"w")
    time.sleep(1)
    assert not [m for m in sub.messages if m[3] == b"w" and "/cmd/" not in m[0]]
    assert pub.process.poll() is None
    assert pub.interrupt() == 130


# --- refused and unreachable brokers ----------------------------------------

@pytest.fixture
def secured(servers, tmp_path):
    certificates = make_certificates(tmp_path / "tls")
    passwords = tmp_path / "passwords"
    subprocess.run(["mosquitto_passwd", "-b", "-c", str(passwords), "line", "s3cret-pw"], check=True,
                   capture_output=True)
    os.chmod(passwords, 0o600)
    (tmp_path / "good-pw").write_text("s3cret-pw\n")
    (tmp_path / "bad-pw").write_text("wrong\n")
    broker = servers.broker("tls-broker", tls=certificates, passwords=passwords)
    return broker, certificates


def test_tls_and_login_publish_and_allow_commands(servers, secured, tmp_path):
    broker, certificates = secured
    pub = servers.publisher(url(broker, tls=True), "line/pc11", "--cafile", str(certificates["ca"]),
                            "--username", "line", "--password-file", str(tmp_path / "good-pw"),
                            "--allow-commands", "--no-settings")
    sub = commander(servers, broker, "line/pc11", username="line", password="s3cret-pw")
    sub.wait(lambda s: s.on("status") and len(s.on("values")) >= 3, what="values over TLS")
    sub.request("line/pc11/cmd/reset", {"head": "A"}, "replies/me", b"r")
    assert answer(sub, b"r") == {"status": 200, "done": "reset"}
    assert pub.interrupt() == 130


def test_password_from_the_environment(servers, secured, tmp_path):
    broker, certificates = secured
    pub = servers.publisher(url(broker, tls=True), "line/pc12", "--cafile", str(certificates["ca"]),
                            "--username", "line", "--no-settings", env={"TRAX_MQTT_PASSWORD": "s3cret-pw"})
    sub = servers.subscriber(broker, "line/pc12/#", username="line", password="s3cret-pw")
    sub.wait(lambda s: s.on("values"), what="values")
    assert pub.interrupt() == 130


# extra arguments, words in the message
REFUSED = [
    (["--username", "line", "--password-file", "PW/bad-pw", "--cafile", "TLS/ca.pem"], "refused the login"),
    (["--username", "line", "--password-file", "PW/good-pw", "--cafile", "TLS/other-ca.pem"], "certificate"),
    (["--username", "line", "--password-file", "PW/good-pw"], "certificate"),  # the system's CAs do not know ours
]


@pytest.mark.parametrize("extra,words", REFUSED)
def test_refused_connections_end_with_a_clear_message(servers, secured, tmp_path, extra, words):
    broker, certificates = secured
    args = [a.replace("PW/", str(tmp_path) + "/").replace("TLS/", str(tmp_path / "tls") + "/") for a in extra]
    pub = servers.publisher(url(broker, tls=True), "line/pc13", "--no-settings", "--connect-timeout", "5", *args)
    started = time.monotonic()
    code, cpu = pub.wait_rusage(20)
    assert code == 1 and words in pub.errors(), pub.errors()
    assert time.monotonic() - started < 12
    assert cpu < 2.0, "busy loop"


def test_unreachable_broker_gives_up_after_the_timeout_without_spinning(servers):
    pub = servers.publisher(f"mqtt://127.0.0.1:{free_port()}", "line/pc14", "--no-settings", "--connect-timeout", "4")
    started = time.monotonic()
    code, cpu = pub.wait_rusage(20)
    took = time.monotonic() - started
    errors = pub.errors()
    assert code == 1 and "no connection within 4 s" in errors, errors
    assert 3 <= took < 12 and cpu < 1.0


@pytest.mark.parametrize("args,words", [
    (["--broker", "http://x"], "is not mqtt://HOST"),
    (["--broker", "mqtt://h:99999"], "the port is 1..65535"),
    (["--broker", "mqtt://h", "--password", "x"], "never goes on the command line"),
    (["--broker", "mqtt://h", "--topic", "a/#"], "--topic"),
    (["--broker", "mqtt://h", "--qos", "2"], "--qos"),
    (["--broker", "mqtt://h", "--cafile", "/etc/hostname"], "goes with an mqtts:// broker"),
    (["--broker", "mqtt://h", "--spool-max", "12q"], "--spool-max"),
    (["--topic", "a"], "--broker"),
])
def test_wrong_options_are_usage_errors(args, words):
    result = subprocess.run([TRAXCTL, "publish", *args], capture_output=True, text=True, timeout=20)
    assert result.returncode == 2 and words in result.stderr, result.stderr
