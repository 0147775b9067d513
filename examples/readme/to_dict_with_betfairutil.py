import json

import betfairutil
import quorvane

for book in quorvane.iter_prices_file("data/sample.jsonl"):
    if book.inplay:
        break
    market_book = book.to_dict()  # plain dicts and lists, camelCase keys

print(json.dumps(market_book["runners"][0]["ex"]["availableToBack"][:2]))
print("back book", betfairutil.calculate_book_percentage(market_book, betfairutil.Side.BACK))
for runner in market_book["runners"]:
    print(runner["selectionId"], betfairutil.get_best_price(runner, betfairutil.Side.BACK),
          betfairutil.get_spread(runner))
