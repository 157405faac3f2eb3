"""The sandbox's package index: a simple repository (PEP 503) served over HTTPS.

Project pages live at the root, so that "https://HOST:PORT/" works as pip's --index-url
(pip asks for "<index-url><project>/"); the same pages are also reachable under /simple/.
Every file link carries its "#sha256=" fragment and its data-requires-python attribute.
The TLS handshake happens in the connection's own thread, so one slow or plain-text client never
holds up the others.
"""

from __future__ import annotations

import html
import http.server
import socket
import ssl
import threading
import urllib.parse

from wheels import Release, canonical_name

_HTML_TYPE = "text/html; charset=utf-8"


def _page(title: str, links: list[str]) -> bytes:
    body = "\n".join(links)
    return (
        "<!DOCTYPE html>\n<html>\n<head>\n"
        '<meta name="pypi:repository-version" content="1.0">\n'
        f"<title>{html.escape(title)}</title>\n</head>\n<body>\n"
        f"<h1>{html.escape(title)}</h1>\n{body}\n</body>\n</html>\n"
    ).encode("utf-8")


class IndexServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, ssl_context: ssl.SSLContext,
                 releases: dict[str, list[Release]], request_log, requires_auth):
        self.ssl_context = ssl_context
        self.requires_auth = requires_auth
        self.releases = releases
        self.request_log = request_log
        self.files = {r.filename: r for rs in releases.values() for r in rs}
        super().__init__(address, IndexHandler)

    def finish_request(self, request, client_address):
        request.settimeout(30)
        try:
            tls = self.ssl_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return  # not a TLS client, or it gave up: nothing to answer
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            try:
                tls.close()
            except OSError:
                pass

    def handle_error(self, request, client_address):
        pass  # clients that hang up early are normal here


class IndexHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "tessel-sandbox-index"
    server: IndexServer

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass

    def do_HEAD(self):
        self._serve(send_body=False)

    def do_GET(self):
        self._serve(send_body=True)

    def _serve(self, send_body: bool):
        path = urllib.parse.urlsplit(self.path).path
        self.server.request_log.append({"method": self.command, "path": path})
        try:
            if self.server.requires_auth():
                status, headers, body = 401, {"WWW-Authenticate": 'Basic realm="tessel-sandbox"',
                                              "Content-Type": "text/plain"}, b"Unauthorized\n"
            else:
                status, headers, body = self._route(urllib.parse.unquote(path))
        except Exception as error:  # a fault of the sandbox itself, never silent
            status, headers, body = 500, {"Content-Type": "text/plain"}, f"{error}\n".encode()
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        if send_body:
            try:
                self.wfile.write(body)
            except (BrokenPipeError, ConnectionResetError, socket.timeout):
                self.close_connection = True

    def _route(self, path: str):
        if path in ("/", "/simple", "/simple/"):
            return 200, {"Content-Type": _HTML_TYPE}, self._root_page()
        if path.startswith("/files/"):
            return self._file(path[len("/files/"):])
        prefix = "/simple/" if path.startswith("/simple/") else "/"
        name = path[len(prefix):]
        if not name or "/" in name.rstrip("/"):
            return self._not_found()
        project = canonical_name(name.rstrip("/"))
        if project not in self.server.releases:
            return self._not_found()
        wanted = f"{prefix}{project}/"
        if path != wanted:
            # The repository API sends clients to the normalised, slash-terminated address.
            return 301, {"Location": wanted, "Content-Type": "text/plain"}, b""
        return 200, {"Content-Type": _HTML_TYPE}, self._project_page(project)

    def _root_page(self) -> bytes:
        links = [f'<a href="/{name}/">{html.escape(name)}</a><br/>'
                 for name in sorted(self.server.releases)]
        return _page("Simple index", links)

    def _project_page(self, project: str) -> bytes:
        links = []
        for release in self.server.releases[project]:
            href = f"/files/{urllib.parse.quote(release.filename)}#sha256={release.sha256}"
            links.append(
                f'<a href="{html.escape(href)}" '
                f'data-requires-python="{html.escape(release.requires_python)}">'
                f"{html.escape(release.filename)}</a><br/>")
        return _page(f"Links for {project}", links)

    def _file(self, filename: str):
        release = self.server.files.get(filename)
        if release is None:
            return self._not_found()
        with open(release.path, "rb") as handle:
            data = handle.read()
        return 200, {"Content-Type": "application/octet-stream"}, data

    @staticmethod
    def _not_found():
        return 404, {"Content-Type": "text/plain"}, b"Not Found\n"


def make_ssl_context(cert_path: str, key_path: str) -> ssl.SSLContext:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert_path, key_path)
    return context


def start(host: str, port: int, cert_path: str, key_path: str,
          releases: dict[str, list[Release]], request_log,
          requires_auth=lambda: False) -> tuple[IndexServer, threading.Thread]:
    server = IndexServer((host, port), make_ssl_context(cert_path, key_path), releases, request_log,
                         requires_auth)
    thread = threading.Thread(target=server.serve_forever, name="index", daemon=True)
    thread.start()
    return server, thread
