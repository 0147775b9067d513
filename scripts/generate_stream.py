#!/usr/bin/env python3
"""Write a synthetic Betfair Exchange stream recording of one WIN market.

The stream follows a horse race from the first image to settlement: full
ladders in an "img" message, ladder deltas on the exchange's price ladder,
growing traded volume, starting-price fields, a non-runner removal with its
adjustment factors (the other runners' prices reduced by its reduction factor,
as the exchange does), a suspension, the turn in-play and the result.

The output is a function of the options alone: the same seed gives the same
bytes, gzip included. Standard library only.

    generate_stream.py --runners 8 --messages 1500 --seed 1 data/sample.jsonl
"""

from __future__ import annotations

import argparse
import base64
import bisect
import gzip
import json
import random
import sys
import time
from math import log
from pathlib import Path
from typing import Iterator


def _build_ticks() -> list[int]:
    """The exchange's price ladder, in hundredths (1.01 ... 1000)."""
    bands = [(101, 200, 1), (200, 300, 2), (300, 400, 5), (400, 600, 10), (600, 1000, 20),
             (1000, 2000, 50), (2000, 3000, 100), (3000, 5000, 200), (5000, 10000, 500),
             (10000, 100000, 1000)]
    ticks = [k for low, high, step in bands for k in range(low, high, step)]
    ticks.append(100000)
    return ticks


TICKS = _build_ticks()
LAST_TICK = len(TICKS) - 1
MIN_MESSAGES = 8

SELECTION_WORDS = (
    "Amber", "Bold", "Copper", "Dancing", "Emerald", "Flying", "Golden", "Hidden", "Iron",
    "Jolly", "Kings", "Lucky", "Midnight", "Noble", "Orchid", "Proud", "Quiet", "Royal",
    "Silver", "Tidal", "Velvet", "Wild", "Young", "Zesty")
SELECTION_NOUNS = (
    "Arrow", "Breeze", "Comet", "Dawn", "Echo", "Falcon", "Glory", "Harbour", "Island",
    "Jester", "Knight", "Legend", "Meadow", "Nomad", "Oracle", "Piper", "Quest", "Rider",
    "Spirit", "Tempest", "Valley", "Warrior", "Voyager", "Zephyr")
VENUES = (("Hamilton", "Ham"), ("Newmarket", "Newm"), ("Ascot", "Asct"), ("York", "York"),
          ("Sandown", "Sand"), ("Kempton", "Kemp"), ("Doncaster", "Donc"), ("Chester", "Chest"))
RACE_NAMES = ("1m Hcap", "6f Mdn Stks", "7f Nursery", "1m2f Hcap", "5f Stks", "1m4f Listed")


def money(hundredths: int) -> int | float:
    """Whole amounts print as integers and the rest with at most two decimals,
    as the exchange writes them; k / 100 is the double nearest to the decimal."""
    return hundredths // 100 if hundredths % 100 == 0 else hundredths / 100


PRICES = [money(k) for k in TICKS]
price = PRICES.__getitem__


def iso_time(epoch_ms: int) -> str:
    seconds, millis = divmod(epoch_ms, 1000)
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(seconds)) + f".{millis:03d}Z"


def nearest_tick(odds: float) -> int:
    index = bisect.bisect_left(TICKS, round(odds * 100))
    return min(index, LAST_TICK)


class Runner:
    __slots__ = ("selection_id", "name", "sort_priority", "chance", "best_back", "back", "lay",
                 "traded", "traded_total", "sp_back", "sp_lay", "status", "adjustment_factor",
                 "removal_date", "bsp")

    def __init__(self, selection_id: int, name: str, sort_priority: int, chance: float):
        self.selection_id = selection_id
        self.name = name
        self.sort_priority = sort_priority
        self.chance = chance
        # Best back price as a tick index; the best lay is always one tick above.
        self.best_back = min(max(nearest_tick(1.0 / chance) - 1, 0), LAST_TICK - 1)
        self.back: dict[int, int] = {}    # tick -> hundredths available
        self.lay: dict[int, int] = {}
        self.traded: dict[int, int] = {}  # tick -> hundredths matched so far
        self.traded_total = 0
        self.sp_back: dict[int, int] = {}
        self.sp_lay: dict[int, int] = {}
        self.status = "ACTIVE"
        self.adjustment_factor = round(chance * 10000)  # hundredths of a percent
        self.removal_date: str | None = None
        self.bsp: int | None = None


class MarketStream:
    """Produces the lines of one market's recording, in order."""

    def __init__(self, runners: int, messages: int, depth: int, seed: int):
        if runners < 2:
            raise ValueError("a market needs at least 2 runners")
        if messages < MIN_MESSAGES:
            raise ValueError(f"a market needs at least {MIN_MESSAGES} messages")
        if not 1 <= depth <= LAST_TICK // 2:
            raise ValueError(f"the ladder depth must lie in 1..{LAST_TICK // 2}")
        self.rng = random.Random(seed)
        self.messages = messages
        self.depth = depth
        # Deeper books see more of their levels move in each delta.
        self.touches = 0.4 + depth / 10
        self.offset = 2 + depth / 5
        rng = self.rng

        self.market_id = f"1.{rng.randint(200_000_000, 239_999_999)}"
        self.event_id = str(rng.randint(32_000_000, 33_999_999))
        self.venue, venue_short = rng.choice(VENUES)
        self.race_name = rng.choice(RACE_NAMES)
        self.definition_version = rng.randint(4_000_000_000, 4_999_999_999)
        self.clock = rng.randint(1, 1 << 40)

        self.removal_at = max(1, int(messages * 0.22)) if runners >= 3 else None
        self.off_at = min(int(messages * 0.75), messages - 4)
        self.in_play_at = self.off_at + 1
        self.finish_at = messages - 2
        self.publish_times = self._publish_times()
        self.market_time = self.publish_times[self.off_at] // 60_000 * 60_000
        self.open_date = self.market_time - rng.randint(0, 4) * 1_800_000
        day = time.gmtime(self.market_time // 1000)
        self.event_name = f"{venue_short} {day.tm_mday}{_ordinal(day.tm_mday)} {time.strftime('%b', day)}"

        self.runners = self._make_runners(runners)
        self.removed = self.runners[rng.randrange(runners)] if self.removal_at else None
        self.winner: Runner | None = None
        self.status = "OPEN"
        self.in_play = False
        self.bet_delay = 0
        self.bsp_reconciled = False
        self.settled_time: str | None = None

    def _publish_times(self) -> list[int]:
        rng = self.rng
        pt = 1_714_550_400_000 + rng.randrange(365) * 86_400_000 + 11 * 3_600_000
        # A race lasts minutes however many messages it takes, so in-play gaps shrink.
        race_ms = rng.randint(240_000, 480_000)
        in_play_gap = max(1.0, min(200.0, race_ms / max(1, self.finish_at - self.in_play_at)))
        times = []
        for index in range(self.messages):
            times.append(pt)
            if index < self.off_at:
                pt += 20 + int(rng.expovariate(1 / 400))
            elif index < self.finish_at:
                pt += 1 + int(rng.expovariate(1 / in_play_gap))
            else:
                pt += 30_000 + rng.randrange(60_000)
        return times

    def _make_runners(self, count: int) -> list[Runner]:
        rng = self.rng
        strengths = [rng.paretovariate(1.2) for _ in range(count)]
        total = sum(strengths)
        names = rng.sample([f"{a} {b}" for a in SELECTION_WORDS for b in SELECTION_NOUNS], count)
        ids = rng.sample(range(10_000_000, 49_999_999), count)
        return [Runner(ids[i], names[i], i + 1, strengths[i] / total) for i in range(count)]

    # ---- ladders -------------------------------------------------------------------

    def _size(self, distance: int) -> int:
        """A fresh size in hundredths; money rests deeper in the book."""
        return 1 + int(-log(1.0 - self.rng.random()) * (600 + 400 * distance))

    def _back_window(self, best: int) -> range:
        return range(max(0, best - self.depth + 1), best + 1)

    def _lay_window(self, best: int) -> range:
        return range(best + 1, min(LAST_TICK, best + self.depth) + 1)

    def _fill(self, runner: Runner) -> None:
        rng = self.rng
        best = runner.best_back
        runner.back = {t: self._size(best - t) for t in self._back_window(best)}
        runner.lay = {t: self._size(t - best - 1) for t in self._lay_window(best)}
        # The lowest and highest prices carry the usual resting orders.
        runner.back[0] = runner.back.get(0, 0) + 1_000_000 + rng.randrange(500_000)
        runner.lay[LAST_TICK] = runner.lay.get(LAST_TICK, 0) + 1_000 + rng.randrange(1_000)
        for tick in range(max(0, best - 3), min(LAST_TICK, best + 4)):
            matched = 100 + int(rng.expovariate(1 / 20_000))
            runner.traded[tick] = matched
            runner.traded_total += matched
        runner.sp_back = {max(0, best - 4): self._size(4)}
        runner.sp_lay = {min(LAST_TICK, best + 5): self._size(5)}

    def _shift(self, runner: Runner, up: bool, back: list, lay: list) -> int:
        """Moves the book one tick; returns the tick that traded on the way."""
        old = runner.best_back
        new = old + 1 if up else old - 1
        runner.best_back = new
        for side, pairs, before, after, keep in (
                (runner.back, back, self._back_window(old), self._back_window(new), 0),
                (runner.lay, lay, self._lay_window(old), self._lay_window(new), LAST_TICK)):
            # Both windows are contiguous and one tick apart: only their ends differ.
            for tick in {before[0], before[-1]} if before else ():
                if tick not in after and tick != keep and tick in side:
                    del side[tick]
                    pairs.append([price(tick), 0])
            for tick in {after[0], after[-1]} if after else ():
                if tick not in before and tick not in side:
                    side[tick] = self._size(abs(tick - new))
                    pairs.append([price(tick), money(side[tick])])
        return old + 1 if up else old

    def _touch_levels(self, side: dict[int, int], ticks: range, pairs: list) -> None:
        """Resizes a few levels of one side, mostly near the best price (ticks[0])."""
        # The hot loop of the generator: exponential draws written out in full.
        random = self.rng.random
        deepest = len(ticks) - 1
        resized: dict[int, int] = {}
        for _ in range(1 + int(-log(1.0 - random()) * self.touches)):
            offset = min(int(-log(1.0 - random()) * self.offset), deepest)
            resized[ticks[offset]] = 1 + int(-log(1.0 - random()) * (600 + 400 * offset))
        for tick, size in resized.items():
            # Every delta moves something: a repeated size would be no change.
            size += side.get(tick) == size
            side[tick] = size
            pairs.append([price(tick), money(size)])

    def _trade(self, runner: Runner, tick: int, change: dict) -> int:
        amount = 1 + int(self.rng.expovariate(1 / 2_500))
        runner.traded[tick] = runner.traded.get(tick, 0) + amount
        runner.traded_total += amount
        change["trd"] = [[price(tick), money(runner.traded[tick])]]
        change["ltp"] = price(tick)
        change["tv"] = money(runner.traded_total)
        return amount

    def _runner_change(self, runner: Runner) -> tuple[dict, int]:
        """One delta of a runner's book; returns it with the volume it matched."""
        rng = self.rng
        back: list = []
        lay: list = []
        trade: dict = {}
        matched = 0
        best = runner.best_back
        if rng.random() < (0.25 if self.in_play else 0.08) and 0 < best < LAST_TICK - 1:
            # In-play the result shows: the winner shortens, the others drift.
            if self.winner is not None:
                up = rng.random() < (0.3 if runner is self.winner else 0.6)
            else:
                up = rng.random() < 0.5
            matched = self._trade(runner, self._shift(runner, up, back, lay), trade)
        else:
            touch_back = rng.random() < 0.6
            if touch_back:
                self._touch_levels(runner.back, self._back_window(best)[::-1], back)
            if not touch_back or rng.random() < 0.5:
                self._touch_levels(runner.lay, self._lay_window(best), lay)
            if rng.random() < 0.3:
                matched = self._trade(runner, best if rng.random() < 0.5 else best + 1, trade)
        change: dict = {}
        if back:
            change["atb"] = back
        if lay:
            change["atl"] = lay
        change.update(trade)
        if not self.bsp_reconciled:
            self._starting_prices(runner, change)
        change["id"] = runner.selection_id
        return change, matched

    def _starting_prices(self, runner: Runner, change: dict) -> None:
        rng = self.rng
        roll = rng.random()
        if roll < 0.03:
            odds = TICKS[runner.best_back]
            change["spn"] = money(max(101, odds + rng.randint(-odds // 20, odds // 20)))
            change["spf"] = money(max(101, odds + rng.randint(-odds // 8, odds // 8)))
        elif roll < 0.05:
            ladder, key, tick = ((runner.sp_back, "spb", max(0, runner.best_back - rng.randint(1, 6)))
                                 if rng.random() < 0.5 else
                                 (runner.sp_lay, "spl", min(LAST_TICK, runner.best_back + rng.randint(2, 7))))
            if tick in ladder and rng.random() < 0.3:
                del ladder[tick]
                change[key] = [[price(tick), 0]]
            else:
                ladder[tick] = ladder.get(tick, 0) + self._size(2)
                change[key] = [[price(tick), money(ladder[tick])]]

    # ---- definition ----------------------------------------------------------------

    def _definition(self) -> dict:
        self.definition_version += self.rng.randint(1, 400_000)
        runners = []
        for runner in sorted(self.runners, key=lambda r: r.sort_priority):
            entry: dict = {"adjustmentFactor": money(runner.adjustment_factor),
                           "status": runner.status, "sortPriority": runner.sort_priority}
            if runner.removal_date:
                entry["removalDate"] = runner.removal_date
            if runner.bsp is not None:
                entry["bsp"] = money(runner.bsp)
            entry["id"] = runner.selection_id
            entry["name"] = runner.name
            runners.append(entry)
        definition = {
            "bspMarket": True, "turnInPlayEnabled": True, "persistenceEnabled": True,
            "marketBaseRate": 5, "eventId": self.event_id, "eventTypeId": "7",
            "numberOfWinners": 1, "bettingType": "ODDS", "marketType": "WIN",
            "marketTime": iso_time(self.market_time), "suspendTime": iso_time(self.market_time),
            "bspReconciled": self.bsp_reconciled, "complete": True, "inPlay": self.in_play,
            "crossMatching": True, "runnersVoidable": False,
            "numberOfActiveRunners": sum(r.status == "ACTIVE" for r in self.runners),
            "betDelay": self.bet_delay, "status": self.status}
        if self.settled_time:
            definition["settledTime"] = self.settled_time
        definition.update({
            "runners": runners, "regulators": ["MR_INT"], "venue": self.venue,
            "countryCode": "GB", "discountAllowed": True, "timezone": "Europe/London",
            "openDate": iso_time(self.open_date), "version": self.definition_version,
            "name": self.race_name, "eventName": self.event_name,
            "priceLadderDefinition": {"type": "CLASSIC"}})
        return definition

    def _remove_runner(self, pt: int) -> list[dict]:
        runner = self.removed
        runner.status = "REMOVED"
        runner.removal_date = iso_time(pt - self.rng.randrange(1_000, 20_000))
        remaining = [r for r in self.runners if r.status == "ACTIVE"]
        # Its adjustment factor is the reduction factor the others' prices take.
        reduction = runner.adjustment_factor / 10000
        share = sum(r.adjustment_factor for r in remaining)
        for r in remaining:
            r.adjustment_factor = round(r.adjustment_factor * 10000 / share)
        # Its unmatched bets are cancelled: the book of a non-runner empties.
        change = {"atb": [[price(t), 0] for t in sorted(runner.back)],
                  "atl": [[price(t), 0] for t in sorted(runner.lay)], "id": runner.selection_id}
        if runner.sp_back:
            change["spb"] = [[price(t), 0] for t in sorted(runner.sp_back)]
        if runner.sp_lay:
            change["spl"] = [[price(t), 0] for t in sorted(runner.sp_lay)]
        runner.back, runner.lay, runner.sp_back, runner.sp_lay = {}, {}, {}, {}
        repriced = (self._reprice(r, 1.0 - reduction) for r in remaining)
        return [change] + [c for c in repriced if len(c) > 1]  # an unchanged book sends nothing

    def _reprice(self, runner: Runner, factor: float) -> dict:
        """The market reforms at the reduced prices: the runner's book moves to
        its best back price times `factor`; the resting orders at 1.01 and 1000 stay."""
        old_back, old_lay = runner.back, runner.lay
        # The tick at or below the reduced price, as the best back was below the fair one.
        reduced = bisect.bisect_right(TICKS, round(TICKS[runner.best_back] * factor)) - 1
        best = min(max(reduced, 0), LAST_TICK - 1)
        runner.best_back = best
        runner.back = {t: self._size(best - t) for t in self._back_window(best)}
        runner.lay = {t: self._size(t - best - 1) for t in self._lay_window(best)}
        if 0 in old_back:
            runner.back.setdefault(0, old_back[0])
        if LAST_TICK in old_lay:
            runner.lay.setdefault(LAST_TICK, old_lay[LAST_TICK])
        change: dict = {}
        for key, old, new, reverse in (("atb", old_back, runner.back, True),
                                       ("atl", old_lay, runner.lay, False)):
            pairs = [[price(t), money(new.get(t, 0))] for t in sorted(old.keys() | new.keys(), reverse=reverse)
                     if new.get(t, 0) != old.get(t, 0)]
            if pairs:
                change[key] = pairs
        change["id"] = runner.selection_id
        return change

    def _reconcile(self) -> list[dict]:
        """At the off the starting prices are fixed and the winner is decided."""
        rng = self.rng
        active = [r for r in self.runners if r.status == "ACTIVE"]
        self.winner = rng.choices(active, weights=[r.chance for r in active])[0]
        changes = []
        for runner in active:
            odds = TICKS[runner.best_back]
            runner.bsp = max(101, odds + rng.randint(-odds // 10, odds // 10))
            changes.append({"spn": money(runner.bsp), "spf": money(runner.bsp),
                            "id": runner.selection_id})
        self.bsp_reconciled = True
        return changes

    def _settle(self, pt: int) -> None:
        self.status = "CLOSED"
        self.settled_time = iso_time(pt - self.rng.randrange(5_000, 25_000))
        for runner in self.runners:
            if runner.status == "ACTIVE":
                runner.status = "WINNER" if runner is self.winner else "LOSER"

    # ---- messages ------------------------------------------------------------------

    def _clk(self) -> str:
        self.clock += self.rng.randint(1, 5_000)
        return base64.b64encode(self.clock.to_bytes(8, "big").lstrip(b"\0")).decode()

    def _image(self) -> dict:
        changes = []
        for runner in self.runners:
            self._fill(runner)
            best = runner.best_back
            traded = sorted(runner.traded)
            changes.append({
                "atb": [[price(t), money(runner.back[t])] for t in sorted(runner.back, reverse=True)],
                "atl": [[price(t), money(runner.lay[t])] for t in sorted(runner.lay)],
                "trd": [[price(t), money(runner.traded[t])] for t in traded],
                "spb": [[price(t), money(s)] for t, s in runner.sp_back.items()],
                "spl": [[price(t), money(s)] for t, s in runner.sp_lay.items()],
                "spn": price(best), "spf": price(min(best + 2, LAST_TICK)),
                "ltp": price(traded[len(traded) // 2]), "tv": money(runner.traded_total),
                "id": runner.selection_id})
        return {"id": self.market_id, "marketDefinition": self._definition(), "rc": changes,
                "img": True, "tv": self._market_volume()}

    def _market_volume(self) -> int | float:
        return money(sum(r.traded_total for r in self.runners))

    def _delta(self) -> dict:
        rng = self.rng
        active = [r for r in self.runners if r.status == "ACTIVE"]
        count = min(len(active), 1 + int(rng.expovariate(1 / max(0.5, len(active) / 10))))
        changes = []
        traded = 0
        for runner in sorted(rng.sample(active, count), key=lambda r: r.sort_priority):
            change, matched = self._runner_change(runner)
            changes.append(change)
            traded += matched
        market = {"id": self.market_id, "rc": changes}
        if traded:
            market["tv"] = self._market_volume()
        return market

    def _market_change(self, index: int, pt: int) -> dict:
        if index == 0:
            return self._image()
        if index == self.removal_at:
            self.status = "SUSPENDED"
            changes = self._remove_runner(pt)
            return {"id": self.market_id, "marketDefinition": self._definition(), "rc": changes}
        if self.removal_at and index == self.removal_at + 1:
            self.status = "OPEN"
            return {"id": self.market_id, "marketDefinition": self._definition()}
        if index == self.off_at:
            self.status = "SUSPENDED"
            return {"id": self.market_id, "marketDefinition": self._definition()}
        if index == self.in_play_at:
            self.status, self.in_play, self.bet_delay = "OPEN", True, 1
            changes = self._reconcile()
            return {"id": self.market_id, "marketDefinition": self._definition(), "rc": changes}
        if index == self.finish_at:
            self.status = "SUSPENDED"
            return {"id": self.market_id, "marketDefinition": self._definition()}
        if index == self.messages - 1:
            self._settle(pt)
            return {"id": self.market_id, "marketDefinition": self._definition()}
        return self._delta()

    def lines(self) -> Iterator[str]:
        encode = json.JSONEncoder(separators=(",", ":")).encode
        for index, pt in enumerate(self.publish_times):
            market = self._market_change(index, pt)
            yield encode({"op": "mcm", "clk": self._clk(), "pt": pt, "mc": [market]})


def _ordinal(day: int) -> str:
    if 10 <= day % 100 <= 20:
        return "th"
    return {1: "st", 2: "nd", 3: "rd"}.get(day % 10, "th")


def write_stream(path: Path, runners: int, messages: int, depth: int, seed: int) -> None:
    stream = MarketStream(runners, messages, depth, seed)
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "wb") as raw:
        # mtime 0 and no file name keep gzip output identical from run to run.
        out = (gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0)
               if path.suffix in (".gz", ".gzip") else raw)
        batch: list[str] = []
        for line in stream.lines():
            batch.append(line)
            if len(batch) == 2048:
                out.write(("\n".join(batch) + "\n").encode())
                batch.clear()
        if batch:
            out.write(("\n".join(batch) + "\n").encode())
        if out is not raw:
            out.close()


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", type=Path, help="file to write; gzip when it ends in .gz")
    parser.add_argument("--runners", type=int, default=8, help="runners in the market (default 8)")
    parser.add_argument("--messages", type=int, default=1500, help="lines to write (default 1500)")
    parser.add_argument("--depth", type=int, default=10, help="price levels per side (default 10)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    args = parser.parse_args(argv)
    try:
        write_stream(args.output, args.runners, args.messages, args.depth, args.seed)
    except ValueError as error:
        parser.error(str(error))
    return 0


if __name__ == "__main__":
    sys.exit(main())
