"""Replays recorded Betfair Exchange stream files as market book objects.

``iter_prices_file(path)`` reads a whole recording (plain, gzip or bzip2) and
returns a ``PricesIterator``; each step yields a ``MarketBook``. Objects whose
data did not change since the previous step are handed out again as the very
same Python object, so a kept book never changes under its holder.

No class can be constructed or subclassed from Python, and every attribute is
read-only except ``MarketBook.streaming_unique_id``.
"""

import datetime
from typing import Any, Literal, final

__all__ = [
    "iter_prices_file",
    "PricesIterator",
    "MarketBook",
    "Runner",
    "ExchangePrices",
    "StartingPrices",
    "PriceSize",
    "MarketDefinition",
    "MarketDefinitionRunner",
]

def iter_prices_file(path: str) -> PricesIterator:
    """Read the recording at ``path`` to the end and return an iterator over its books.

    One JSON message per line; the file is read through gzip when its name
    ends in ".gz" or ".gzip" and through bzip2 when it ends in ".bz2". Only
    ``str`` paths are accepted (``TypeError`` otherwise). Every fault of the
    file (missing, unreadable, not UTF-8, not JSON, a corrupt or truncated
    compressed stream) raises ``ValueError`` here, never later. Its message is
    fixed; a note names the path ("while reading PATH"), and for a line that is
    not UTF-8 or not JSON also the line ("while reading line N of PATH").
    """

@final
class PricesIterator:
    """Iterator that yields MarketBook objects with object reuse

    ``len()`` is the number of stored messages (constant, also while and after
    iterating); ``iter()`` returns the iterator itself. There is no reset.
    """

    def __iter__(self) -> PricesIterator: ...
    def __next__(self) -> MarketBook:
        """Apply the next stored message and return the refreshed book.

        Raises ``RuntimeError`` "Already borrowed" when another step of this
        iterator is running.
        """

    def __len__(self) -> int: ...

@final
class MarketBook:
    """A market book snapshot"""

    @property
    def streaming_unique_id(self) -> int | None:
        """Streaming unique ID (set by stream for flumine compatibility)"""

    @streaming_unique_id.setter
    def streaming_unique_id(self, value: int | None) -> None: ...
    @property
    def market_id(self) -> str:
        """Market identifier, for example "1.197931750"."""

    @property
    def publish_time(self) -> datetime.datetime:
        """Publish time of this step: a naive datetime in UTC."""

    @property
    def publish_time_epoch(self) -> int:
        """publish_time in epoch milliseconds (int, for flumine compatibility)"""

    @property
    def status(self) -> str:
        """Market status: "OPEN", "SUSPENDED", "CLOSED", ..."""

    @property
    def bet_delay(self) -> int:
        """Bet delay in seconds."""

    @property
    def bsp_reconciled(self) -> bool: ...
    @property
    def complete(self) -> bool: ...
    @property
    def cross_matching(self) -> bool: ...
    @property
    def inplay(self) -> bool:
        """Whether the market is in play."""

    @property
    def number_of_active_runners(self) -> int:
        """Runners of the book whose status is "ACTIVE"."""

    @property
    def number_of_runners(self) -> int: ...
    @property
    def number_of_winners(self) -> int: ...
    @property
    def runners_voidable(self) -> bool: ...
    @property
    def total_matched(self) -> float:
        """Amount matched on the market."""

    @property
    def version(self) -> int:
        """Market version."""

    @property
    def last_match_time(self) -> int | None:
        """Last match time in epoch milliseconds; None until the stream gives one."""

    @property
    def market_definition(self) -> MarketDefinition | None:
        """The latest market definition; None until the stream has delivered one."""

    @property
    def runners(self) -> list[Runner]:
        """The runners, ordered by (selection id, handicap)."""

    @property
    def bet_delay_models(self) -> None:
        """Always None."""

    @property
    def elapsed_time(self) -> None:
        """Always None."""

    @property
    def is_market_data_delayed(self) -> None:
        """Always None."""

    @property
    def key_line_description(self) -> None:
        """Always None."""

    @property
    def price_ladder_definition(self) -> None:
        """Always None."""

    @property
    def suspend_reason(self) -> None:
        """Always None."""

    @property
    def total_available(self) -> None:
        """Always None."""

    @property
    def streaming_snap(self) -> Literal[True]:
        """Always True."""

    @property
    def streaming_update(self) -> None:
        """Always None."""

    def to_dict(self) -> dict[str, Any]:
        """Convert to a dict matching betfairutil lightweight format (for testing)"""

@final
class Runner:
    """A runner in the market"""

    @property
    def selection_id(self) -> int: ...
    @property
    def handicap(self) -> float: ...
    @property
    def adjustment_factor(self) -> float | None: ...
    @property
    def last_price_traded(self) -> float | None:
        """Last traded price; None until the runner has traded."""

    @property
    def total_matched(self) -> float: ...
    @property
    def status(self) -> str:
        """Runner status: "ACTIVE", "REMOVED", "WINNER", "LOSER", ..."""

    @property
    def removal_date(self) -> str | None:
        """Removal date as the stream wrote it (text, not a datetime), or None."""

    @property
    def ex(self) -> ExchangePrices:
        """The ladders: prices available to back and to lay, and traded volume."""

    @property
    def sp(self) -> StartingPrices:
        """Starting prices: a new object at every read."""

    @property
    def orders(self) -> list[Any]:
        """A new empty list at every read (a recording holds no orders)."""

    @property
    def matches(self) -> list[Any]:
        """A new empty list at every read (a recording holds no matches)."""

    @property
    def matches_by_strategy(self) -> None:
        """Always None."""

    @property
    def bet_delay_models(self) -> None:
        """Always None."""

    @property
    def suspend_reason(self) -> None:
        """Always None."""

@final
class ExchangePrices:
    """Exchange prices for a runner (back/lay/traded)"""

    @property
    def available_to_back(self) -> list[PriceSize]:
        """Prices available to back, best (highest) first."""

    @property
    def available_to_lay(self) -> list[PriceSize]:
        """Prices available to lay, best (lowest) first."""

    @property
    def traded_volume(self) -> list[PriceSize]:
        """Volume traded at each price, by price ascending."""

@final
class StartingPrices:
    """Starting prices for a runner"""

    @property
    def near_price(self) -> float | str | None:
        """A float, a text when the stream sent one (such as "NaN" or "Infinity"), or None."""

    @property
    def far_price(self) -> float | str | None:
        """As near_price."""

    @property
    def actual_sp(self) -> float | str | None:
        """As near_price."""

    @property
    def back_stake_taken(self) -> list[PriceSize]:
        """A new list of new PriceSize objects at every read."""

    @property
    def lay_liability_taken(self) -> list[PriceSize]:
        """A new list of new PriceSize objects at every read."""

@final
class PriceSize:
    """A price/size pair in the order book"""

    @property
    def price(self) -> float: ...
    @property
    def size(self) -> float: ...
    def __repr__(self) -> str:
        """``PriceSize(price=1.5, size=10)``: the shortest digits that read back exactly."""

    def __getitem__(self, key: str, /) -> float:
        """``p["price"]`` or ``p["size"]``; any other text raises KeyError."""

@final
class MarketDefinition:
    """Market definition - metadata about the market"""

    @property
    def event_id(self) -> str | None: ...
    @property
    def event_type_id(self) -> str | None: ...
    @property
    def event_name(self) -> str | None: ...
    @property
    def market_type(self) -> str | None: ...
    @property
    def country_code(self) -> str | None: ...
    @property
    def venue(self) -> str | None: ...
    @property
    def race_type(self) -> str | None: ...
    @property
    def name(self) -> str | None: ...
    @property
    def timezone(self) -> str | None: ...
    @property
    def betting_type(self) -> str | None: ...
    @property
    def regulators(self) -> list[str]:
        """A new list at every read."""

    @property
    def runners(self) -> list[MarketDefinitionRunner]:
        """The definition's runners in its order; the same list at every read."""

    @property
    def market_time(self) -> datetime.datetime | None:
        """Scheduled start, a naive datetime in UTC."""

    @property
    def open_date(self) -> datetime.datetime | None: ...
    @property
    def suspend_time(self) -> datetime.datetime | None: ...
    @property
    def settled_time(self) -> datetime.datetime | None: ...
    @property
    def bsp_market(self) -> bool: ...
    @property
    def persistence_enabled(self) -> bool: ...
    @property
    def each_way_divisor(self) -> float | None: ...
    @property
    def turn_in_play_enabled(self) -> bool: ...
    @property
    def discount_allowed(self) -> bool: ...
    @property
    def market_base_rate(self) -> float: ...
    @property
    def bet_delay(self) -> int: ...
    @property
    def number_of_winners(self) -> int: ...
    @property
    def number_of_active_runners(self) -> int: ...
    @property
    def bsp_reconciled(self) -> bool: ...
    @property
    def complete(self) -> bool: ...
    @property
    def cross_matching(self) -> bool: ...
    @property
    def in_play(self) -> bool: ...
    @property
    def runners_voidable(self) -> bool: ...
    @property
    def status(self) -> str: ...
    @property
    def version(self) -> int: ...
    @property
    def bet_delay_models(self) -> None:
        """Always None."""

    @property
    def key_line_definitions(self) -> None:
        """Always None."""

    @property
    def line_interval(self) -> None:
        """Always None."""

    @property
    def line_max_unit(self) -> None:
        """Always None."""

    @property
    def line_min_unit(self) -> None:
        """Always None."""

    @property
    def price_ladder_definition(self) -> None:
        """Always None."""

    @property
    def suspend_reason(self) -> None:
        """Always None."""

@final
class MarketDefinitionRunner:
    """A runner in a market definition"""

    @property
    def selection_id(self) -> int: ...
    @property
    def sort_priority(self) -> int: ...
    @property
    def status(self) -> str: ...
    @property
    def handicap(self) -> float: ...
    @property
    def adjustment_factor(self) -> float | None: ...
    @property
    def removal_date(self) -> str | None:
        """Removal date as the stream wrote it (text, not a datetime), or None."""

    @property
    def name(self) -> str | None: ...
    @property
    def bsp(self) -> float | None:
        """Betfair starting price, once reconciled."""
