"""What a running sandbox remembers, shared by its server threads under one lock.

The catalogue it answers with, the fault mode a test selected, whether the index asks for
credentials, and a log of the requests both servers received. A reset puts back the catalogue
file's content and the fault chosen at start, lets the index serve again, clears the log, and
wakes any reply that a delay fault is holding back, so one test's slow reply never spills into the
next test.
"""

from __future__ import annotations

import copy
import threading


class SandboxState:
    def __init__(self, catalogue: object, fault: dict | None = None):
        self._lock = threading.Lock()
        self._logged = threading.Condition(self._lock)
        self._default_catalogue = copy.deepcopy(catalogue)
        self._start_fault = copy.deepcopy(fault)
        self._catalogue = copy.deepcopy(catalogue)
        self._fault = copy.deepcopy(fault)
        self._catalogue_log: list[dict] = []
        self._index_log: list[dict] = []
        self._index_auth = False
        self._wake = threading.Event()
        self.index_log = _IndexLog(self)

    # -- catalogue and fault -------------------------------------------------------------------

    def catalogue(self) -> object:
        with self._lock:
            return copy.deepcopy(self._catalogue)

    def set_catalogue(self, catalogue: object) -> None:
        with self._lock:
            self._catalogue = copy.deepcopy(catalogue)

    def set_fault(self, fault: dict | None) -> None:
        with self._lock:
            self._fault = copy.deepcopy(fault)

    def fault(self) -> dict | None:
        with self._lock:
            return copy.deepcopy(self._fault)

    def take_fault(self) -> dict | None:
        """The fault for the catalogue request now arriving; counts down a limited one."""
        with self._lock:
            fault = self._fault
            if fault is None:
                return None
            times = fault.get("times")
            if times is not None:
                if times <= 1:
                    self._fault = None
                else:
                    fault["times"] = times - 1
            return copy.deepcopy(fault)

    def set_index_auth(self, required: bool) -> None:
        with self._lock:
            self._index_auth = required

    def index_auth(self) -> bool:
        """True when the index answers every request with 401, as an index that wants a user
        name and password does when none came."""
        with self._lock:
            return self._index_auth

    def reset(self) -> None:
        """Back to the state of the start: the catalogue file and the fault given at start."""
        with self._lock:
            self._catalogue = copy.deepcopy(self._default_catalogue)
            self._fault = copy.deepcopy(self._start_fault)
            self._index_auth = False
            self._catalogue_log.clear()
            self._index_log.clear()
            wake, self._wake = self._wake, threading.Event()
        wake.set()

    def wake_event(self) -> threading.Event:
        """Set when the next reset or the shutdown happens."""
        with self._lock:
            return self._wake

    def shut_down(self) -> None:
        self.wake_event().set()

    # -- request log ---------------------------------------------------------------------------

    def log_catalogue_request(self, entry: dict) -> None:
        with self._lock:
            self._catalogue_log.append(entry)
            self._logged.notify_all()

    def wait_for_catalogue_requests(self, count: int, timeout: float) -> bool:
        """Waits until `count` catalogue requests have been answered or taken their fault since
        the last reset; False when the time ran out first."""
        with self._lock:
            return self._logged.wait_for(lambda: len(self._catalogue_log) >= count, timeout)

    def log_index_request(self, entry: dict) -> None:
        with self._lock:
            self._index_log.append(entry)

    def requests(self) -> dict:
        with self._lock:
            return {"catalogue": copy.deepcopy(self._catalogue_log),
                    "index": copy.deepcopy(self._index_log)}


class _IndexLog:
    """The list-like face that the index server appends to."""

    def __init__(self, state: SandboxState):
        self._state = state

    def append(self, entry: dict) -> None:
        self._state.log_index_request(entry)
