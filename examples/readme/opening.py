import quorvane

for book in quorvane.iter_prices_file("data/sample.jsonl"):
    print(book.publish_time, book.status, len(book.runners))
