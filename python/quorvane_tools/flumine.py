"""A stream for flumine's ``FlumineSimulation`` that replays recordings through quorvane.

`QuorvaneHistoricalStream` takes the place of flumine's ``BetfairHistoricalStream``
wherever flumine takes a stream, with the same arguments::

    from flumine import BaseStrategy, FlumineSimulation, clients
    from quorvane_tools.flumine import QuorvaneHistoricalStream

    framework = FlumineSimulation(client=clients.SimulatedClient())
    stream = QuorvaneHistoricalStream(file_path="1.197931750", listener_kwargs={"inplay": False})
    framework.add_strategy(MyStrategy(streams=[stream]))
    framework.run()

Needs flumine (``pip install "quorvane[flumine]"``).
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator
from typing import Any

import quorvane
from flumine.streams.betfairhistoricalstream import (  # type: ignore[import-untyped]
    BetfairHistoricalStream,
)

from ._listener_filter import ListenerFilter

__all__ = ["QuorvaneHistoricalStream"]

MARKET_DATA = "marketSubscription"

# betfairlightweight's listener options that change the books it builds, with the one
# setting under which its books show what quorvane's show.
BOOK_OPTIONS = {
    "lightweight": (False, "flumine's simulation needs MarketBook objects"),
    "calculate_market_tv": (False, "quorvane's books show the market's own \"tv\""),
    "cumulative_runner_tv": (False, "quorvane's books show each runner's own \"tv\""),
}


class QuorvaneHistoricalStream(BetfairHistoricalStream):  # type: ignore[misc]
    """flumine's ``BetfairHistoricalStream`` with quorvane's books.

    Takes the same arguments; ``file_path`` is a ``str`` or any ``os.PathLike``
    (plain, gzip or bzip2, one market per file). ``listener_kwargs`` are checked
    here: ``inplay``, ``seconds_to_start``, ``max_inplay_seconds`` and
    ``event_type_ids`` filter the books as flumine does, ``lightweight``,
    ``calculate_market_tv`` and ``cumulative_runner_tv`` are refused unless
    False, and the others do not change market books. Only market data is
    replayed: any other ``operation`` raises ``ValueError``.
    """

    def __init__(
        self,
        file_path: str | os.PathLike[str],
        listener_kwargs: dict[str, Any] | None = None,
        stream_id: int | None = None,
        event_processing: bool = False,
        event_group: str | None = None,
        event_id: str | None = None,
        operation: str = MARKET_DATA,
    ) -> None:
        if operation != MARKET_DATA:
            raise ValueError(f"QuorvaneHistoricalStream replays market data only (operation"
                             f" {MARKET_DATA!r}), not {operation!r}")
        super().__init__(file_path, listener_kwargs, stream_id, event_processing, event_group,
                         event_id, operation)
        for name, (supported, reason) in BOOK_OPTIONS.items():
            value = getattr(self._listener, name)
            if value is not supported:
                raise ValueError(f"QuorvaneHistoricalStream does not support listener_kwargs"
                                 f" {name}={value!r}, only {supported!r}: {reason}")

    @property
    def market_filter(self) -> str | os.PathLike[str]:
        """The file path: flumine logs ``market_filter`` of every stream of an event group."""
        file_path: str | os.PathLike[str] = self.file_path
        return file_path

    def create_generator(self) -> Callable[[], Iterator[list[quorvane.MarketBook]]]:
        """A function that replays the file anew at every call, as flumine's does: each
        item is a list of the one book that the listener's settings let through, its
        ``streaming_unique_id`` set to this stream's id."""
        file_path, unique_id, listener = self.file_path, self.stream_id, self._listener

        def replay() -> Iterator[list[quorvane.MarketBook]]:
            passes = ListenerFilter.of(listener)
            for book in quorvane.iter_prices_file(os.fspath(file_path)):
                if passes is None or passes(book):
                    book.streaming_unique_id = unique_id
                    yield [book]

        return replay

