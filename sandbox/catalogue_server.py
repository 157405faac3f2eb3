"""The sandbox's catalogue endpoint and its test-control endpoints, over plain HTTP on loopback.

The catalogue endpoint answers only POST (405 otherwise, with an Allow header), only with every
expected header line present and exact (403 otherwise), and only for a body that is a JSON object
(400 otherwise). Then it replies with the current catalogue, or with the selected fault.

Control endpoints, for tests (loopback only, like everything here):
  POST /_control/fault      JSON fault object (see faults.py): every catalogue request from now on
                            (or the next "times" ones) gets that fault
  POST /_control/catalogue  JSON value: the catalogue reply from now on (any shape)
  POST /_control/index      {"auth": true}: the index answers every request with 401 and
                            WWW-Authenticate: Basic, as one that wants credentials; false: it serves
  POST /_control/reset      back to the catalogue file and the fault given at start, the index
                            serving; clears the log
  GET  /_control/requests   {"catalogue": [...], "index": [...]}: the requests received since the
                            last reset (catalogue: method, path, headers, body, status, fault;
                            index: method, path); with ?wait_for=N[&timeout=S] it first waits
                            until N catalogue requests have arrived (408 when S seconds pass)
  GET  /_control/state      {"fault": ..., "catalogue": ...}
"""

from __future__ import annotations

import http.server
import json
import socket
import threading
import urllib.parse

import faults
from state import SandboxState

MAX_REQUEST_BODY = 1024 * 1024


class CatalogueServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, state: SandboxState, endpoint_path: str,
                 expected_headers: list[tuple[str, str]]):
        self.state = state
        self.endpoint_path = endpoint_path
        self.expected_headers = expected_headers
        self._abortive: set[int] = set()
        self._abortive_lock = threading.Lock()
        super().__init__(address, CatalogueHandler)

    def close_without_shutdown(self, connection: socket.socket) -> None:
        """Ends the connection with a plain close: with SO_LINGER at zero that sends a reset,
        where the usual shutdown would have sent an orderly end first."""
        with self._abortive_lock:
            self._abortive.add(connection.fileno())

    def shutdown_request(self, request):
        with self._abortive_lock:
            abortive = request.fileno() in self._abortive
            self._abortive.discard(request.fileno())
        if abortive:
            request.close()
        else:
            super().shutdown_request(request)

    def handle_error(self, request, client_address):
        pass  # clients that hang up early are normal here


class CatalogueHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "tessel-sandbox-catalogue"
    timeout = 120  # a client that connects and then says nothing does not hold a thread forever
    server: CatalogueServer

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    # Every method comes through here, so an unexpected one still gets its 405.
    def __getattr__(self, name: str):
        if name.startswith("do_"):
            return self._dispatch
        raise AttributeError(name)

    def _dispatch(self):
        path = urllib.parse.urlsplit(self.path).path
        try:
            body = self._read_body()
        except ValueError as error:
            self._reply(400, {"detail": str(error)}, close=True)
            return
        if path.startswith("/_control/"):
            self._control(path[len("/_control/"):], body)
        elif path == self.server.endpoint_path:
            self._catalogue(body)
        else:
            self._reply(404, {"detail": "Not Found"})

    def _read_body(self) -> bytes:
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            return self._read_chunked()
        length = self.headers.get("Content-Length")
        if length is None:
            return b""
        if not length.isdigit() or int(length) > MAX_REQUEST_BODY:
            raise ValueError("request body length missing, malformed or too large")
        return self.rfile.read(int(length))

    def _read_chunked(self) -> bytes:
        data = b""
        while True:
            line = self.rfile.readline(1024).split(b";")[0].strip()
            size = int(line, 16) if line else -1
            if size < 0 or len(data) + size > MAX_REQUEST_BODY:
                raise ValueError("malformed or too large chunked request body")
            if size == 0:
                while self.rfile.readline(1024).strip():
                    pass  # trailer lines
                return data
            data += self.rfile.read(size)
            self.rfile.readline(1024)

    def _reply(self, status: int, value: object, extra_headers=None, close=False) -> None:
        body = json.dumps(value).encode("utf-8")
        try:
            self.send_response(status)
            for name, header_value in (extra_headers or {}).items():
                self.send_header(name, header_value)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            if close:
                self.send_header("Connection", "close")
                self.close_connection = True
            self.end_headers()
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError, socket.timeout):
            self.close_connection = True

    # -- the catalogue endpoint ----------------------------------------------------------------

    def _catalogue(self, body: bytes) -> None:
        state = self.server.state
        status, detail, fault = self._judge(body)
        # Logged once the request's fate is fixed (its fault taken), so a test that waits for
        # the entry knows the next fault it selects cannot reach this request.
        state.log_catalogue_request({
            "method": self.command,
            "path": self.path,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body": body.decode("utf-8", "replace"),
            "status": status,
            "fault": fault,
        })
        if status == 405:
            self._reply(405, {"detail": detail}, {"Allow": "POST"})
        elif status != 200:
            self._reply(status, {"detail": detail})
        elif fault is None:
            self._reply(200, state.catalogue())
        else:
            faults.produce(self, fault, state.catalogue(), state.wake_event())

    def _judge(self, body: bytes):
        """(status, detail, fault) for one catalogue request: the rules first, then the fault."""
        if self.command != "POST":
            return 405, "Method Not Allowed", None
        for name, value in self.server.expected_headers:
            if self.headers.get(name) != value:
                return 403, f"missing or wrong header {name}", None
        try:
            request = json.loads(body.decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError):
            request = None
        if not isinstance(request, dict):
            return 400, "the request body must be a JSON object", None
        return 200, "", self.server.state.take_fault()

    # -- control -------------------------------------------------------------------------------

    def _control(self, action: str, body: bytes) -> None:
        state = self.server.state
        if action in ("requests", "state") and self.command == "GET":
            if action == "requests":
                query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
                if "wait_for" in query:
                    try:
                        count = int(query["wait_for"][0])
                        timeout = min(float(query.get("timeout", ["30"])[0]), 600.0)
                    except ValueError:
                        self._reply(400, {"detail": "wait_for and timeout are numbers"})
                        return
                    if not state.wait_for_catalogue_requests(count, timeout):
                        self._reply(408, {"detail": f"fewer than {count} catalogue requests"})
                        return
                self._reply(200, state.requests())
            else:
                self._reply(200, {"fault": state.fault(), "catalogue": state.catalogue()})
            return
        if action not in ("fault", "catalogue", "reset", "index"):
            self._reply(404, {"detail": f"no control action {action!r}"})
            return
        if self.command != "POST":
            self._reply(405, {"detail": "Method Not Allowed"}, {"Allow": "POST"})
            return
        if action == "reset":
            state.reset()
            self._reply(200, {"ok": True})
            return
        try:
            value = json.loads(body.decode("utf-8"))
        except (UnicodeDecodeError, json.JSONDecodeError) as error:
            self._reply(400, {"detail": f"the body is not JSON: {error}"})
            return
        if action == "index":
            if not isinstance(value, dict) or not isinstance(value.get("auth"), bool):
                self._reply(400, {"detail": "the index setting is {\"auth\": true or false}"})
                return
            state.set_index_auth(value["auth"])
            self._reply(200, {"ok": True})
            return
        if action == "catalogue":
            state.set_catalogue(value)
            self._reply(200, {"ok": True})
            return
        try:
            fault = faults.validate(value)
        except ValueError as error:
            self._reply(400, {"detail": str(error)})
            return
        state.set_fault(fault)
        self._reply(200, {"ok": True, "fault": fault})


def start(host: str, port: int, state: SandboxState, endpoint_path: str,
          expected_headers: list[tuple[str, str]]) -> tuple[CatalogueServer, threading.Thread]:
    server = CatalogueServer((host, port), state, endpoint_path, expected_headers)
    thread = threading.Thread(target=server.serve_forever, name="catalogue", daemon=True)
    thread.start()
    return server, thread
