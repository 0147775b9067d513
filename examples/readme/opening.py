import quorvane

for book in quorvane.iter_prices_file("1.197931750"):
    print(book.publish_time, book.status, len(book.runners))
