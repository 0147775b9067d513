from quorvane_tools.recordings import catalogue, find_recordings, replay_many, select


def matched_at_the_off(source):
    """Runs in a worker process; only the small result travels back."""
    matched = 0.0
    for book in source.iter_prices():
        if book.inplay:
            break
        matched = book.total_matched
    return matched


if __name__ == "__main__":
    sources = find_recordings(["data"])  # files, folders (recursively), .tar archives
    entries = select(catalogue(sources), event_type_ids="7", country_codes="GB", market_types="WIN")
    for entry in entries:
        print(entry.source, entry.market_id, entry.venue, entry.market_time, entry.error or "")
    chosen = [entry.source for entry in entries if entry.error is None]
    for source, result in zip(chosen, replay_many(matched_at_the_off, chosen, processes=2)):
        # A recording that failed gives its exception, with a note naming it.
        print(source, result if isinstance(result, Exception) else f"{result:,.2f} matched at the off")
