"""The real servers for the publish and metrics tests: a mosquitto broker with
a config made here (anonymous, or a password file and TLS with certificates
made by openssl), an independent subscriber (Debian's paho), traxctl publish
and serve. Every server listens on a free loopback port and is stopped by the
test that started it.

    TRAXCTL=build/linux/tools/traxctl python3 -m pytest tests/publish
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import threading
import time

import pytest

TRAXCTL = os.environ.get("TRAXCTL", os.path.join(os.path.dirname(__file__), "../../build/linux/tools/traxctl"))
MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"

try:
    import paho.mqtt.client as mqtt
    from paho.mqtt.properties import Properties
    from paho.mqtt.packettypes import PacketTypes
except ImportError:  # the test stage says why it skips
    mqtt = None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Broker:
    """mosquitto on a free loopback port, with persistence so that a restart
    keeps the subscriber's session (and what was queued for it)."""

    def __init__(self, folder, tls=None, passwords=None):
        self.folder = folder
        self.port = free_port()
        self.tls = tls
        folder.mkdir(parents=True, exist_ok=True)
        lines = [f"listener {self.port} 127.0.0.1", "persistence true", f"persistence_location {folder}/",
                 "autosave_interval 1", "max_queued_messages 100000", "max_inflight_messages 100"]
        if os.geteuid() == 0:
            # Started as root, mosquitto would become its own user, who cannot
            # read this test's private folder.
            lines.append("user root")
        if passwords:
            lines += [f"password_file {passwords}", "allow_anonymous false"]
        else:
            lines.append("allow_anonymous true")
        if tls:
            lines += [f"cafile {tls['ca']}", f"certfile {tls['cert']}", f"keyfile {tls['key']}"]
        self.config = folder / "mosquitto.conf"
        self.config.write_text("\n".join(lines) + "\n")
        self.process = None
        self.start()

    def start(self):
        self.log = open(self.folder / "broker.log", "a")
        self.process = subprocess.Popen([MOSQUITTO, "-c", str(self.config)], stdout=self.log, stderr=self.log)
        wait_for(self._listening, 10, "mosquitto to listen")

    def _listening(self):
        assert self.process.poll() is None, (self.folder / "broker.log").read_text()
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=0.2).close()
            return True
        except OSError:
            return False

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.log.close()


class Subscriber:
    """An MQTT 5 client of our own: every message it gets, with its topic,
    retained flag, JSON payload and correlation data."""

    def __init__(self, broker, topic, username=None, password=None, client_id=None):
        self.messages = []
        self.lock = threading.Lock()
        self.connected = threading.Event()
        self.client = mqtt.Client(client_id=client_id or f"sub-{os.getpid()}-{time.monotonic_ns()}",
                                  protocol=mqtt.MQTTv5)
        if username:
            self.client.username_pw_set(username, password)
        if broker.tls:
            self.client.tls_set(ca_certs=str(broker.tls["ca"]))
        self.topic = topic

        def on_connect(client, userdata, flags, rc, properties=None):
            client.subscribe(self.topic, qos=1)
            self.connected.set()

        def on_message(client, userdata, message):
            correlation = None
            if message.properties is not None and hasattr(message.properties, "CorrelationData"):
                correlation = message.properties.CorrelationData
            try:
                payload = json.loads(message.payload.decode())
            except (ValueError, RecursionError):
                payload = message.payload
            with self.lock:
                self.messages.append((message.topic, bool(message.retain), payload, correlation))

        self.client.on_connect = on_connect
        self.client.on_message = on_message
        self.client.reconnect_delay_set(min_delay=1, max_delay=1)
        # A session the broker keeps across its own restart, so that nothing
        # published while this client reconnects is lost to it.
        props = Properties(PacketTypes.CONNECT)
        props.SessionExpiryInterval = 600
        self.client.connect("127.0.0.1", broker.port, keepalive=5, clean_start=False, properties=props)
        self.client.loop_start()
        assert self.connected.wait(10), "subscriber did not connect"
        time.sleep(0.2)  # the SUBACK

    def on(self, leaf):
        with self.lock:
            # The publisher's own topics, not requests seen on PREFIX/cmd/.
            return [m for m in self.messages if m[0].endswith("/" + leaf) and "/cmd/" not in m[0]]

    def wait(self, predicate, timeout=15, what="messages"):
        wait_for(lambda: predicate(self), timeout, what)

    def request(self, topic, payload, response_topic, correlation):
        props = Properties(PacketTypes.PUBLISH)
        if response_topic is not None:
            props.ResponseTopic = response_topic
        if correlation is not None:
            props.CorrelationData = correlation
        data = payload if isinstance(payload, bytes) else json.dumps(payload).encode()
        self.client.publish(topic, data, qos=1, properties=props).wait_for_publish(5)

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


class Publisher:
    def __init__(self, broker_url, prefix, tmp_path, *args, env=None):
        environment = {k: v for k, v in os.environ.items()
                       if not k.startswith(("TRAX_SIM_", "TRAX_LOG", "TRAX_MQTT"))}
        environment["TRAX_SIM_STATE"] = str(tmp_path / "controller.state")
        environment.update(env or {})
        self.stderr_path = tmp_path / f"publish-{time.monotonic_ns()}.err"
        self.stderr = open(self.stderr_path, "w")
        self.process = subprocess.Popen([TRAXCTL, "publish", "--broker", broker_url, "--topic", prefix, *args],
                                        env=environment, stdout=subprocess.DEVNULL, stderr=self.stderr)

    def errors(self):
        self.stderr.flush()
        return self.stderr_path.read_text()

    def interrupt(self, timeout=15):
        self.process.send_signal(signal.SIGINT)
        return self.process.wait(timeout=timeout)

    def kill(self):
        self.process.kill()
        self.process.wait(timeout=10)

    def wait_rusage(self, timeout):
        """Exit status and CPU seconds of a publisher that ends by itself."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            pid, status, usage = os.wait4(self.process.pid, os.WNOHANG)
            if pid:
                self.process.returncode = os.waitstatus_to_exitcode(status)
                return self.process.returncode, usage.ru_utime + usage.ru_stime
            time.sleep(0.05)
        self.kill()
        raise AssertionError("the publisher did not end: " + self.errors())


def make_certificates(folder):
    """A CA, a server certificate for 127.0.0.1 signed by it, and a second CA
    that signed nothing here."""
    folder.mkdir(parents=True, exist_ok=True)

    def run(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=folder)

    for ca in ("ca", "other-ca"):
        run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", f"/CN=test {ca}",
            "-keyout", f"{ca}.key", "-out", f"{ca}.pem")
    run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", "server.key", "-out",
        "server.csr")
    (folder / "san.ext").write_text("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-days", "2",
        "-extfile", "san.ext", "-out", "server.pem")
    return {"ca": folder / "ca.pem", "cert": folder / "server.pem", "key": folder / "server.key",
            "other": folder / "other-ca.pem"}


@pytest.fixture
def servers(tmp_path):
    """Starts brokers, subscribers and publishers; stops them all afterwards."""
    if mqtt is None or not os.path.exists(MOSQUITTO):
        pytest.skip("needs mosquitto and python3-paho-mqtt (scripts/install-deps.sh mqtt)")
    started = {"brokers": [], "subscribers": [], "publishers": []}

    class Servers:
        def broker(self, name="broker", **kw):
            b = Broker(tmp_path / name, **kw)
            started["brokers"].append(b)
            return b

        def subscriber(self, broker, topic, **kw):
            s = Subscriber(broker, topic, **kw)
            started["subscribers"].append(s)
            return s

        def publisher(self, broker_url, prefix, *args, env=None):
            p = Publisher(broker_url, prefix, tmp_path, *args, env=env)
            started["publishers"].append(p)
            return p

    yield Servers()
    for p in started["publishers"]:
        if p.process.poll() is None:
            p.kill()
    for s in started["subscribers"]:
        s.close()
    for b in started["brokers"]:
        b.stop()


def seqs(messages):
    return [m[2]["seq"] for m in messages if isinstance(m[2], dict)]


def first_occurrences(values):
    """The seqs in the order they first arrived (QoS 1 may repeat one)."""
    seen, order = set(), []
    for s in values:
        if s not in seen:
            seen.add(s)
            order.append(s)
    return order
