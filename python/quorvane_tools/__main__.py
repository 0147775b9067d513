"""`python -m quorvane_tools`: the `quorvane` command."""

import sys

from quorvane_tools.cli import main

sys.exit(main())
