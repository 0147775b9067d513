import quorvane

prices = quorvane.iter_prices_file("data/sample.jsonl")  # the whole file is read here
print(len(prices), "messages")
for book in prices:
    if book.inplay:
        print("in play at", book.publish_time, "matched so far", book.total_matched)
        break
