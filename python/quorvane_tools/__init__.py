"""Tools around the quorvane module for the work it is used in.

The submodules are imported on demand, so importing this package pulls in
neither flumine nor dask, tqdm or matplotlib:

- ``quorvane_tools.flumine``: a stream for flumine's ``FlumineSimulation``
  that replays recordings through quorvane (needs ``pip install "quorvane[flumine]"``).
"""

__all__: list[str] = []
