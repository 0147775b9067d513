"""Backtest two flumine strategies on recordings that quorvane replays.

    python examples/flumine_backtest.py [FILE...]    (default: data/sample.jsonl)

Prints every order with its status, matched size and price, and its profit.
"""

import sys

from flumine import BaseStrategy, FlumineSimulation, clients
from flumine.order.order import OrderStatus
from flumine.order.ordertype import LimitOrder, MarketOnCloseOrder, OrderTypes
from flumine.order.trade import Trade
from flumine.utils import price_ticks_away

from quorvane_tools.flumine import QuorvaneHistoricalStream


def by_price(market_book):
    """(price, selection id, runner) of the active runners with a price, favourite first:
    the best back price, else the last traded one. Ties go to the lower selection id:
    quorvane's runners are in selection id order, flumine's in the definition's.
    Ladder items are read as item["price"], which both streams' books support."""
    ranked = []
    for runner in market_book.runners:
        back = runner.ex.available_to_back
        price = back[0]["price"] if back else runner.last_price_traded
        if runner.status == "ACTIVE" and price:
            ranked.append((price, runner.selection_id, runner))
    return sorted(ranked, key=lambda item: item[:2])


def place(strategy, market, runner, side, order_type):
    trade = Trade(market.market_id, runner.selection_id, runner.handicap, strategy)
    market.place_order(trade.create_order(side=side, order_type=order_type))


class PreRace(BaseStrategy):
    """Before the off: backs the favourite at its best lay price, taking what is offered,
    offers to lay it two ticks under its price, cancelled after 30 seconds unmatched,
    and backs the second favourite at the starting price."""

    def check_market_book(self, market, market_book):
        return market_book.status == "OPEN" and not market_book.inplay

    def process_market_book(self, market, market_book):
        if market.blotter.strategy_orders(self):
            return  # once per market
        ranked = by_price(market_book)
        if len(ranked) < 2:
            return
        price, _, favourite = ranked[0]
        lay = favourite.ex.available_to_lay
        place(self, market, favourite, "BACK", LimitOrder(lay[0]["price"] if lay else price, 2.0))
        place(self, market, favourite, "LAY", LimitOrder(price_ticks_away(price, -2), 2.0))
        place(self, market, ranked[1][2], "BACK", MarketOnCloseOrder(liability=2.0))

    def process_orders(self, market, orders):
        for order in orders:
            if order.order_type.ORDER_TYPE == OrderTypes.LIMIT and order.status == OrderStatus.EXECUTABLE \
                    and order.elapsed_seconds and order.elapsed_seconds > 30:
                market.cancel_order(order)


class InPlay(BaseStrategy):
    """In play: lays the leader at one tick over its price, an order that waits, once
    per runner, and cancels it when the runner's price moves away."""

    def check_market_book(self, market, market_book):
        return market_book.status == "OPEN" and market_book.inplay

    def process_market_book(self, market, market_book):
        ranked = by_price(market_book)
        if ranked and not self.get_runner_context(market.market_id, ranked[0][1], 0).trade_count:
            place(self, market, ranked[0][2], "LAY", LimitOrder(price_ticks_away(ranked[0][0], 1), 2.0))
        prices = {selection_id: price for price, selection_id, _ in ranked}
        for order in market.blotter.strategy_orders(self):
            if order.status == OrderStatus.EXECUTABLE and prices.get(order.selection_id, 0) > order.order_type.price + 1:
                market.cancel_order(order)


def backtest(streams):
    """Runs both strategies over the streams and returns the framework's orders."""
    framework = FlumineSimulation(client=clients.SimulatedClient())
    strategies = [PreRace(streams=streams, max_live_trade_count=2), InPlay(streams=streams)]
    for strategy in strategies:
        framework.add_strategy(strategy)
    framework.run()
    return [order for market in framework.markets for order in market.blotter]


def main(paths):
    streams = [QuorvaneHistoricalStream(file_path=path) for path in paths]
    orders = backtest(streams)
    for order in orders:
        print(f"{order.market_id} {order.trade.strategy.name:8} {order.selection_id:>9} {order.side:4}"
              f" {order.order_type.ORDER_TYPE.value:16} {order.status.value:18}"
              f" matched {order.size_matched:5.2f} at {order.average_price_matched:6.2f}"
              f" cancelled {order.size_cancelled:5.2f}"
              f" profit {order.profit:7.2f}")
    print(f"{len(orders)} orders, profit {sum(order.profit for order in orders):.2f}")


if __name__ == "__main__":
    main(sys.argv[1:] or ["data/sample.jsonl"])
