import quorvane

for book in quorvane.iter_prices_file("data/sample.jsonl"):
    if book.inplay:
        break
    last_before_the_off = book

for runner in last_before_the_off.runners:
    back = runner.ex.available_to_back  # best (highest) price first
    lay = runner.ex.available_to_lay  # best (lowest) price first
    if runner.status == "ACTIVE" and back and lay:
        print(runner.selection_id, back[0].price, back[0].size, lay[0].price, lay[0]["size"])
