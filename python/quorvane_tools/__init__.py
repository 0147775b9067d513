"""Tools around the quorvane module for the work it is used in.

The submodules are imported on demand, so importing this package pulls in
neither flumine nor dask, tqdm or matplotlib:

- ``quorvane_tools.flumine``: a stream for flumine's ``FlumineSimulation``
  that replays recordings through quorvane (needs ``pip install "quorvane[flumine]"``).
- ``quorvane_tools.recordings``: finding recordings in folders and tar archives,
  a catalogue of their markets, and ``replay_many`` on processes or a Dask cluster
  (its progress bar needs tqdm, its cluster dask: ``pip install "quorvane[tqdm,dask]"``).
- ``quorvane_tools.summary``: the printed summary of one recording's market.
- ``quorvane_tools.cli``: the ``quorvane`` command (also ``python -m quorvane_tools``).
"""

__all__: list[str] = []
