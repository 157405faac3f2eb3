"""The ways the sandbox's catalogue endpoint can misbehave on purpose.

A fault is a JSON object {"mode": MODE, ...parameters}; "times": N limits it to the next N
catalogue requests (without it the fault stays until a reset). The modes:

  status       reply with any status code (200-999) and a body. Parameters: "status" (default
               500), "body" (any JSON value, default {"detail": "..."}) or "raw_body" (text sent
               as it is), "content_type", "location" (a Location header, sent byte for byte as
               latin-1, control characters included).
  delay        hold the reply back for "seconds" (default 8, longer than the client's 5 s limit),
               then send the normal catalogue. "stage": "before_headers" (default: nothing at all
               arrives) or "after_headers" (the status line and headers arrive, the body waits).
  not_json     status 200 with a body that is not JSON ("body", default an HTML page), labelled
               "content_type" (default application/json).
  wrong_shape  status 200 with JSON of the wrong shape: a named "shape" (see SHAPES) or any JSON
               value as "body".
  drop         the connection is closed mid-reply: "stage" "mid_body" (default: headers announce
               the full length, then only "after_bytes" bytes of the body come, default half) or
               "no_reply" (closed before a single byte); "reset": true ends it with a TCP reset
               instead of an orderly close.
  huge         status 200 with a valid catalogue padded to "size" bytes (default 20 MiB), streamed;
               "chunked": true sends it without a Content-Length.

Each check raises ValueError with a readable text, so a bad control request gets a 400 that says
what was wrong.
"""

from __future__ import annotations

import json
import socket
import struct

DEFAULT_DELAY_SECONDS = 8.0
DEFAULT_HUGE_SIZE = 20 * 1024 * 1024
MAX_HUGE_SIZE = 1024 * 1024 * 1024
_CHUNK = 64 * 1024

# JSON replies whose shape is wrong for a catalogue, each in its own way.
SHAPES: dict[str, object] = {
    "packages_object": {"packages": {"package_name": "tessel-enterprise", "product_type": "base"}},
    "packages_string": {"packages": "tessel-enterprise"},
    "packages_null": {"packages": None},
    "top_level_array": [{"package_name": "tessel-enterprise", "product_type": "base"}],
    "top_level_string": "tessel-enterprise",
    "element_not_object": {"packages": ["tessel-enterprise", "bundle-alder"]},
    "missing_product_type": {"packages": [{"package_name": "tessel-enterprise"}]},
    "missing_package_name": {"packages": [{"product_type": "base"}]},
    "name_not_string": {"packages": [{"package_name": 42, "product_type": "base"}]},
    "type_not_string": {"packages": [{"package_name": "tessel-enterprise", "product_type": 1}]},
    "name_is_option": {"packages": [
        {"package_name": "tessel-enterprise", "product_type": "base"},
        {"package_name": "--index-url=http://127.0.0.1:9/", "product_type": "bundle"}]},
}

MODES = ("status", "delay", "not_json", "wrong_shape", "drop", "huge")


def _number(params: dict, key: str, default, low, high, integer: bool):
    value = params.get(key, default)
    kinds = (int,) if integer else (int, float)
    if isinstance(value, bool) or not isinstance(value, kinds) or not low <= value <= high:
        raise ValueError(f"'{key}' must be a {'whole ' if integer else ''}number "
                         f"from {low} to {high}, got {value!r}")
    return value


def _choice(params: dict, key: str, default: str, choices) -> str:
    value = params.get(key, default)
    if value not in choices:
        raise ValueError(f"'{key}' must be one of {', '.join(choices)}, got {value!r}")
    return value


def validate(fault: object) -> dict:
    """The fault with its defaults filled in; ValueError when it cannot be produced."""
    if not isinstance(fault, dict):
        raise ValueError("a fault is a JSON object with a 'mode'")
    mode = fault.get("mode")
    if mode not in MODES:
        raise ValueError(f"unknown fault mode {mode!r}; the modes are {', '.join(MODES)}")
    out = dict(fault)
    if "times" in fault:
        out["times"] = _number(fault, "times", 1, 1, 1_000_000, integer=True)
    if mode == "status":
        out["status"] = _number(fault, "status", 500, 200, 999, integer=True)
        if "body" in fault and "raw_body" in fault:
            raise ValueError("give 'body' or 'raw_body', not both")
        if "raw_body" in fault and not isinstance(fault["raw_body"], str):
            raise ValueError("'raw_body' must be a text")
        out.setdefault("body", {"detail": f"sandbox fault: status {out['status']}"})
        if "location" in fault and not isinstance(fault["location"], str):
            raise ValueError("'location' must be a text")
    elif mode == "delay":
        out["seconds"] = _number(fault, "seconds", DEFAULT_DELAY_SECONDS, 0, 3600, integer=False)
        out["stage"] = _choice(fault, "stage", "before_headers", ("before_headers", "after_headers"))
    elif mode == "not_json":
        body = fault.get("body", "<html><body><h1>502 Bad Gateway</h1></body></html>\n")
        if not isinstance(body, str):
            raise ValueError("'body' must be a text")
        out["body"] = body
    elif mode == "wrong_shape":
        if "body" not in fault:
            out["shape"] = _choice(fault, "shape", "packages_object", tuple(SHAPES))
    elif mode == "drop":
        out["stage"] = _choice(fault, "stage", "mid_body", ("mid_body", "no_reply"))
        if "after_bytes" in fault:
            out["after_bytes"] = _number(fault, "after_bytes", 0, 0, 1 << 30, integer=True)
        out["reset"] = fault.get("reset", False)
        if not isinstance(out["reset"], bool):
            raise ValueError("'reset' must be true or false")
    elif mode == "huge":
        out["size"] = _number(fault, "size", DEFAULT_HUGE_SIZE, 64, MAX_HUGE_SIZE, integer=True)
        chunked = fault.get("chunked", False)
        if not isinstance(chunked, bool):
            raise ValueError("'chunked' must be true or false")
        out["chunked"] = chunked
    if "content_type" in fault and not isinstance(fault["content_type"], str):
        raise ValueError("'content_type' must be a text")
    return out


def _json_bytes(value: object) -> bytes:
    return json.dumps(value).encode("utf-8")


def _send(handler, status: int, body: bytes, content_type: str, close: bool = False,
          location: str | None = None) -> None:
    handler.send_response(status)
    if location is not None:
        handler.send_header("Location", location)
    if status in (204, 304):
        body = b""  # these replies never carry a body
    else:
        handler.send_header("Content-Type", content_type)
        handler.send_header("Content-Length", str(len(body)))
    if close:
        handler.send_header("Connection", "close")
        handler.close_connection = True
    handler.end_headers()
    handler.wfile.write(body)


def _huge_parts(catalogue: object, size: int):
    """A valid JSON catalogue of exactly `size` bytes: the catalogue plus a long padding text."""
    packages = catalogue.get("packages", []) if isinstance(catalogue, dict) else []
    head = (json.dumps({"packages": packages})[:-1] + ', "padding": "').encode("utf-8")
    tail = b'"}'
    padding = size - len(head) - len(tail)
    if padding < 0:
        head, padding = b'{"padding": "', size - 15
    yield head
    block = b"x" * _CHUNK
    while padding > 0:
        piece = block[:min(padding, _CHUNK)]
        padding -= len(piece)
        yield piece
    yield tail


def produce(handler, fault: dict, catalogue: object, wake) -> None:
    """Writes the faulty reply to one catalogue request through its BaseHTTPRequestHandler.

    `wake` is an Event that a reset or the shutdown sets; a delayed reply then gives up.
    """
    mode = fault["mode"]
    normal = _json_bytes(catalogue)
    try:
        if mode == "status":
            if "raw_body" in fault:
                body = fault["raw_body"].encode("utf-8")
                content_type = fault.get("content_type", "text/plain; charset=utf-8")
            else:
                body = _json_bytes(fault["body"])
                content_type = fault.get("content_type", "application/json")
            _send(handler, fault["status"], body, content_type, location=fault.get("location"))
        elif mode == "delay":
            if fault["stage"] == "after_headers":
                handler.send_response(200)
                handler.send_header("Content-Type", "application/json")
                handler.send_header("Content-Length", str(len(normal)))
                handler.end_headers()
                handler.wfile.flush()
            if wake.wait(fault["seconds"]):
                handler.close_connection = True
                return
            if fault["stage"] == "after_headers":
                handler.wfile.write(normal)
            else:
                _send(handler, 200, normal, "application/json")
        elif mode == "not_json":
            _send(handler, 200, fault["body"].encode("utf-8"),
                  fault.get("content_type", "application/json"))
        elif mode == "wrong_shape":
            body = fault["body"] if "body" in fault else SHAPES[fault["shape"]]
            _send(handler, 200, _json_bytes(body), fault.get("content_type", "application/json"))
        elif mode == "drop":
            handler.close_connection = True
            if fault["stage"] == "no_reply":
                return
            cut = fault.get("after_bytes", len(normal) // 2)
            cut = min(cut, max(len(normal) - 1, 0))
            handler.send_response(200)
            handler.send_header("Content-Type", "application/json")
            handler.send_header("Content-Length", str(len(normal)))
            handler.end_headers()
            handler.wfile.write(normal[:cut])
            handler.wfile.flush()
            if fault["reset"]:
                # A reset rather than a tidy close, as a crashed server or a broken proxy sends.
                handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                              struct.pack("ii", 1, 0))
                handler.server.close_without_shutdown(handler.connection)
        elif mode == "huge":
            handler.send_response(200)
            handler.send_header("Content-Type", "application/json")
            if fault["chunked"]:
                handler.send_header("Transfer-Encoding", "chunked")
            else:
                handler.send_header("Content-Length", str(fault["size"]))
            handler.end_headers()
            for part in _huge_parts(catalogue, fault["size"]):
                if fault["chunked"]:
                    handler.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
                else:
                    handler.wfile.write(part)
            if fault["chunked"]:
                handler.wfile.write(b"0\r\n\r\n")
    except (BrokenPipeError, ConnectionResetError, socket.timeout):
        # The client gave up (a size cap or a time limit did its job).
        handler.close_connection = True
