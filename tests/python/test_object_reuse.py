"""What each step builds anew and what it hands out again as the same object."""

import json

import pytest

import quorvane
from book_snapshot import snapshot
from streams import books, change, generate, message, one_per_change

DEFINITION = {"status": "OPEN", "runners": [{"id": 1, "sortPriority": 1}, {"id": 2, "sortPriority": 2}]}
OPENING = change(
    img=True,
    definition=DEFINITION,
    rc=[
        {"id": 1, "atb": [[2.0, 10], [1.9, 5]], "atl": [[2.1, 7]], "trd": [[2.0, 3]], "ltp": 2.0},
        {"id": 2, "atb": [[3.0, 4]], "atl": [[3.5, 2]], "trd": [[3.0, 1]], "ltp": 3.0},
    ],
)


def ladders(runner):
    ex = runner.ex
    return ex.available_to_back, ex.available_to_lay, ex.traded_volume


def levels(price_sizes):
    return [(p.price, p.size) for p in price_sizes]


def test_market_level_change_keeps_every_runner(tmp_path):
    first, second = one_per_change(tmp_path, OPENING, change(tv=55.5))
    assert second is not first
    assert second.runners is not first.runners
    assert second.total_matched == 55.5
    assert len(second.runners) == 2
    for old, new in zip(first.runners, second.runners, strict=True):
        assert new is old


@pytest.mark.parametrize(
    ("runner_change", "new_ladders"),
    [
        ({"ltp": 2.2}, (False, False, False)),
        ({"tv": 9.0}, (False, False, False)),
        ({"status": "REMOVED"}, (False, False, False)),
        ({"spn": 2.5}, (False, False, False)),
        ({"spl": [[1.5, 2]]}, (False, False, False)),
        ({"atb": [[1.8, 1]]}, (True, False, False)),
        ({"atl": [[2.1, 0]]}, (False, True, False)),
        ({"trd": [[2.0, 4]]}, (False, False, True)),
        ({"atb": [[1.8, 1]], "trd": [[2.2, 1]]}, (True, False, True)),
    ],
)
def test_runner_change_rebuilds_that_runner_and_only_changed_ladders(tmp_path, runner_change, new_ladders):
    first, second = one_per_change(tmp_path, OPENING, change(rc=[{"id": 1, **runner_change}]))
    old, new = first.runners[0], second.runners[0]
    assert new is not old
    assert new.ex is not old.ex
    for old_list, new_list, is_new in zip(ladders(old), ladders(new), new_ladders, strict=True):
        assert (new_list is not old_list) == is_new
    assert second.runners[1] is first.runners[1]


@pytest.mark.parametrize("read_later_book_first", [False, True])
def test_shared_ladder_lists_are_one_object_whichever_book_reads_first(tmp_path, read_later_book_first):
    first, second, third = one_per_change(
        tmp_path, OPENING, change(rc=[{"id": 1, "ltp": 2.2}]), change(rc=[{"id": 1, "ltp": 2.4}])
    )
    order = [third, first, second] if read_later_book_first else [first, second, third]
    seen = [ladders(book.runners[0]) for book in order]
    for lists in seen[1:]:
        for shared, again in zip(seen[0], lists, strict=True):
            assert again is shared
    assert levels(seen[0][0]) == [(2.0, 10), (1.9, 5)]


# Deep ladders take blocks of many sizes, which dead snapshots hand on to new ones.
@pytest.mark.parametrize("depth", [6, 40])
def test_ladders_read_long_after_their_step_show_that_step(tmp_path, depth):
    path = generate(tmp_path, runners=8, messages=300, depth=depth)
    read_at_each_step = [snapshot(book) for book in quorvane.iter_prices_file(path)]
    kept_unread = list(quorvane.iter_prices_file(path))
    assert [snapshot(book) for book in reversed(kept_unread)] == read_at_each_step[::-1]


def test_repeated_values_rebuild_nothing(tmp_path):
    first, second = one_per_change(
        tmp_path, OPENING, change(rc=[{"id": 1, "ltp": 2.0, "atb": [[2.0, 10]], "trd": [[2.0, 3]]}])
    )
    assert second.runners[0] is first.runners[0]


def test_kept_book_shows_its_own_step(tmp_path):
    first, *later = one_per_change(
        tmp_path,
        OPENING,
        change(rc=[{"id": 1, "ltp": 1.95, "atb": [[2.0, 0], [1.95, 8]], "trd": [[1.95, 2]]}]),
        change(tv=99.0, status="SUSPENDED", rc=[{"id": 2, "status": "REMOVED"}]),
        change(img=True, definition=DEFINITION),
    )
    runner_objects = list(first.runners)
    ladder_objects = [ladders(r) for r in runner_objects]
    assert first.status == "OPEN" and first.total_matched == 0.0
    assert first.runners == runner_objects
    assert [ladders(r) for r in first.runners] == ladder_objects
    one, two = first.runners
    assert (one.last_price_traded, one.status, two.status) == (2.0, "ACTIVE", "ACTIVE")
    assert levels(one.ex.available_to_back) == [(2.0, 10), (1.9, 5)]
    assert levels(one.ex.traded_volume) == [(2.0, 3)]
    # The image dropped every record: the last book starts again from empty ladders.
    assert [levels(r.ex.available_to_back) for r in later[-1].runners] == [[], []]
    assert later[-1].runners[0] is not one


def test_each_book_gets_new_publish_time_and_lists(tmp_path):
    first, second = books(tmp_path, message(5000, OPENING), message(5000, change(tv=1.0)))
    assert first.publish_time == second.publish_time
    assert first.publish_time is not second.publish_time
    assert first.publish_time is first.publish_time
    assert first.runners is first.runners


@pytest.mark.parametrize(
    ("keys", "expected_order"),
    [
        ([(3, 0), (1, 0), (2, 0)], [(1, 0.0), (2, 0.0), (3, 0.0)]),
        ([(7, 0.5), (7, -0.5)], [(7, -0.5), (7, 0.5)]),
        ([(5, 0), (-2, 0), (0, 0), (-9, 1.25)], [(-9, 1.25), (-2, 0.0), (0, 0.0), (5, 0.0)]),
        ([(2, 0.25), (1, 3), (2, -1)], [(1, 3.0), (2, -1.0), (2, 0.25)]),
    ],
)
def test_runner_order(tmp_path, keys, expected_order):
    runner_changes = [{"id": i, "hc": hc, "ltp": 2.0} for i, hc in keys]
    (book,) = one_per_change(tmp_path, change(rc=runner_changes))
    assert [(r.selection_id, r.handicap) for r in book.runners] == expected_order


def test_runner_order_follows_new_and_dropped_records(tmp_path):
    got = one_per_change(
        tmp_path,
        change(rc=[{"id": 5, "ltp": 2}, {"id": 3, "ltp": 2}]),
        change(rc=[{"id": 4, "ltp": 2}]),
        change(tv=1.0),
        # As many records as before, but other keys.
        change(img=True, rc=[{"id": 9, "ltp": 2}, {"id": 1, "ltp": 2}, {"id": 7, "ltp": 2}]),
        change(rc=[{"id": 2, "ltp": 2}, {"id": 10, "ltp": 2}]),
    )
    assert [[r.selection_id for r in b.runners] for b in got] == [
        [3, 5], [3, 4, 5], [3, 4, 5], [1, 7, 9], [1, 2, 7, 9, 10]]


def test_order_survives_table_growth(tmp_path):
    # Enough records to make the table grow several times, added in reverse.
    added = [change(rc=[{"id": i, "ltp": 2}]) for i in range(60, 0, -1)]
    got = one_per_change(tmp_path, *added)
    for count, book in enumerate(got, start=1):
        assert [r.selection_id for r in book.runners] == list(range(61 - count, 61))
    assert all(new is old for new, old in zip(got[-1].runners[1:], got[-2].runners))


def test_no_runner_records_give_an_empty_list(tmp_path):
    (book,) = one_per_change(tmp_path, change(tv=1.0))
    assert book.runners == []
    assert (book.number_of_runners, book.number_of_active_runners) == (0, 0)


def test_generated_market_reuses_what_its_messages_left_alone(tmp_path):
    path = generate(tmp_path, runners=12, messages=400)
    with open(path, encoding="utf-8") as lines:
        messages = [json.loads(line) for line in lines]
    got = list(quorvane.iter_prices_file(path))
    assert len(got) == len(messages)
    kept = 0
    for previous, book, sent in zip(got, got[1:], messages[1:]):
        (market_change,) = sent["mc"]
        if "marketDefinition" in market_change or market_change.get("img"):
            continue  # definition runners and images touch every record
        changes = {rc["id"]: rc for rc in market_change.get("rc", [])}
        assert [r.selection_id for r in book.runners] == [r.selection_id for r in previous.runners]
        for old, new in zip(previous.runners, book.runners, strict=True):
            rc = changes.get(new.selection_id)
            if rc is None:
                assert new is old
                kept += 1
                continue
            for key, old_list, new_list in zip(("atb", "atl", "trd"), ladders(old), ladders(new)):
                if key not in rc:
                    assert new_list is old_list
    assert kept > len(got)
