import quorvane

books = list(quorvane.iter_prices_file("data/sample.jsonl"))
first, last = books[0], books[-1]
# Each kept book still shows its own step.
print(first.status, first.publish_time, sum(len(r.ex.available_to_back) for r in first.runners))
print(last.status, last.publish_time, [r.status for r in last.runners])
assert first.status == "OPEN" and last.status == "CLOSED"
