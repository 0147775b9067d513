import quorvane

books = list(quorvane.iter_prices_file("data/sample.jsonl"))
before, after = books[100], books[101]
for old, new in zip(before.runners, after.runners):
    if old is new:
        print(new.selection_id, "unchanged: the very same Runner object")
        continue
    # Inside a changed runner, every ladder that did not change is still shared.
    for ladder in ("available_to_back", "available_to_lay", "traded_volume"):
        shared = getattr(old.ex, ladder) is getattr(new.ex, ladder)
        print(new.selection_id, ladder, "shared" if shared else "new list")
assert before.market_definition is after.market_definition
assert books[0].runners[0] is not books[-1].runners[0]
