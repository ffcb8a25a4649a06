"""A headless Debian chromium driven over the DevTools protocol (python3-websocket): pages
opened from files, console errors, exceptions and requests collected, keys, clicks, script
results and screenshots. Never downloads anything."""

import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-default-apps",
         "--disable-extensions", "--mute-audio", "--hide-scrollbars", "--remote-debugging-port=0"]


def find_chromium():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name) or (f"/usr/bin/{name}" if os.access(f"/usr/bin/{name}", os.X_OK) else None)
        if path:
            return path
    return None


class Browser:
    def __init__(self, binary, width=1280, height=900, timeout=30):
        import websocket

        self.profile = tempfile.mkdtemp(prefix="vanto-chromium-")
        self.proc = subprocess.Popen([binary, *FLAGS, f"--user-data-dir={self.profile}",
                                      f"--window-size={width},{height}", "about:blank"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + timeout
        while not (os.path.isfile(port_file) and open(port_file).read().count("\n") >= 1):
            if time.time() > deadline or self.proc.poll() is not None:
                self.close()
                raise RuntimeError("chromium did not start")
            time.sleep(0.1)
        port = int(open(port_file).read().split()[0])
        for _ in range(100):
            targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
            pages = [t for t in targets if t.get("type") == "page"]
            if pages:
                break
            time.sleep(0.1)
        self.ws = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], timeout=timeout,
                                              suppress_origin=True)
        self.next_id = 0
        self.events = []
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(f"{domain}.enable")
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1,
                  mobile=False)

    def call(self, method, **params):
        self.next_id += 1
        wanted = self.next_id
        self.ws.send(json.dumps({"id": wanted, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == wanted:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def wait_event(self, method, timeout=30):
        deadline = time.time() + timeout
        for i, e in enumerate(self.events):
            if e["method"] == method:
                return self.events.pop(i)
        self.ws.settimeout(1)
        try:
            while time.time() < deadline:
                try:
                    message = json.loads(self.ws.recv())
                except Exception:
                    continue
                if message.get("method") == method:
                    return message
                if "method" in message:
                    self.events.append(message)
        finally:
            self.ws.settimeout(30)
        raise RuntimeError(f"no {method} within {timeout} s")

    def open(self, path):
        """Loads a file and returns once its load event has fired; the collected events restart."""
        self.events = []
        self.problems_seen = []
        self.call("Page.navigate", url="file://" + os.path.abspath(path))
        self.wait_event("Page.loadEventFired")

    def evaluate(self, expression, timeout=20):
        """The value of an expression; a promise is awaited. Polls while it yields null."""
        deadline = time.time() + timeout
        while True:
            result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
            if "exceptionDetails" in result:
                raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
            value = result["result"].get("value")
            if value is not None or time.time() > deadline:
                return value
            time.sleep(0.05)

    def wait_for(self, expression, timeout=20):
        """Waits until the expression is true."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.evaluate(f"({expression}) ? true : false") is True:
                return True
            time.sleep(0.05)
        return False

    def key(self, key, code=None, keycode=0):
        for kind in ("keyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=code or key, windowsVirtualKeyCode=keycode)

    def click(self, x, y):
        self.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y)
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png", captureBeyondViewport=False)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def problems(self, page_url):
        """Console errors, uncaught exceptions and requests for anything but the page itself and
        data: URIs, since the page was opened."""
        self.call("Runtime.evaluate", expression="0")  # collect pending events
        out = []
        for e in self.events:
            m, p = e["method"], e["params"]
            if m == "Runtime.exceptionThrown":
                out.append("exception: " + p["exceptionDetails"].get("text", "") + " " +
                           str(p["exceptionDetails"].get("exception", {}).get("description", "")))
            elif m == "Runtime.consoleAPICalled" and p["type"] in ("error", "warning", "assert"):
                out.append(f"console {p['type']}: " + " ".join(str(a.get("value", a.get("description")))
                                                             for a in p["args"]))
            elif m == "Log.entryAdded" and p["entry"]["level"] in ("error", "warning"):
                out.append(f"log {p['entry']['level']}: {p['entry']['text']}")
            elif m == "Network.requestWillBeSent":
                url = p["request"]["url"]
                if not url.startswith("data:") and url != page_url:
                    out.append(f"request: {url}")
        return out

    def close(self):
        try:
            self.ws.close()
        except Exception:
            pass
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        shutil.rmtree(self.profile, ignore_errors=True)
