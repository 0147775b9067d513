"""Which books flumine's historical listener lets through to the strategies.

flumine's market stream keeps applying every message to its cache, but hands a book
on only while the market is "active" by the listener's settings ``inplay``,
``seconds_to_start``, ``max_inplay_seconds`` and ``event_type_ids``. `ListenerFilter`
takes the same decision from quorvane's books, one book per message, in order.
"""

from __future__ import annotations

from typing import Any

import quorvane


class ListenerFilter:
    """Decides book by book, in file order, whether flumine would pass a book on.

    flumine reads the market's status, in-play flag, start time and event type from
    the market definitions; a book brings a new definition exactly when its
    ``market_definition`` is another object than the previous book's.
    """

    def __init__(self, inplay: Any, seconds_to_start: float | None,
                 max_inplay_seconds: float | None, event_type_ids: list[str] | None) -> None:
        self._inplay = inplay
        self._seconds_to_start = seconds_to_start
        self._max_inplay_seconds = max_inplay_seconds
        self._event_type_ids = event_type_ids
        self._definition: quorvane.MarketDefinition | None = None
        self._in_play: bool | None = None
        self._inplay_since: int | None = None
        self._excluded = False

    @classmethod
    def of(cls, listener: Any) -> ListenerFilter | None:
        """The filter of a flumine ``HistoricListener``; None when its settings pass every book."""
        # flumine honours event_type_ids only as a list or tuple, compared as str.
        given = getattr(listener, "event_type_ids", None)
        event_type_ids = [str(i) for i in given] if isinstance(given, (list, tuple)) else None
        if (not listener.inplay and listener.inplay is not False and listener.seconds_to_start is None
                and listener.max_inplay_seconds is None and event_type_ids is None):
            return None
        return cls(listener.inplay, listener.seconds_to_start, listener.max_inplay_seconds,
                   event_type_ids)

    def __call__(self, book: quorvane.MarketBook) -> bool:
        definition = book.market_definition
        new_definition = definition is not self._definition
        self._definition = definition
        if self._excluded:
            return False
        if new_definition and definition is not None and self._event_type_ids is not None:
            if str(definition.event_type_id) not in self._event_type_ids:
                # For good: flumine skips every later message of the market.
                self._excluded = True
                return False
        in_play = definition.in_play if definition is not None else None
        if self._max_inplay_seconds is not None and in_play and not self._in_play:
            self._inplay_since = book.publish_time_epoch
        self._in_play = in_play
        # A market that is not open (suspended, closed) always passes.
        if definition is None or definition.status != "OPEN":
            return True
        if self._inplay:
            if not in_play:
                return False
        elif self._seconds_to_start is not None and definition.market_time is not None:
            seconds_to_start = (definition.market_time - book.publish_time).total_seconds()
            if seconds_to_start > self._seconds_to_start:
                return False
        if self._inplay is False and in_play:
            return False
        if self._inplay_since is not None and self._max_inplay_seconds is not None:
            if (book.publish_time_epoch - self._inplay_since) / 1000 > self._max_inplay_seconds:
                return False
        return True
