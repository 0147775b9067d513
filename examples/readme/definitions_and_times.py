import datetime

import quorvane

book = next(iter(quorvane.iter_prices_file("data/sample.jsonl")))
definition = book.market_definition  # None until the stream sends a definition
print(definition.venue, definition.name, definition.market_type, definition.market_time)
for entry in definition.runners:
    print(entry.sort_priority, entry.selection_id, entry.name, entry.status)

# Times are naive datetimes in UTC; publish_time_epoch is the stream's milliseconds.
aware = book.publish_time.replace(tzinfo=datetime.timezone.utc)
assert aware.timestamp() * 1000 == book.publish_time_epoch
print("starts in", definition.market_time - book.publish_time)
