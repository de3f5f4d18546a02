#!/usr/bin/env python3
"""The whole end-to-end suite: the cases of cases.py, then those of faults.py, launching.py,
control.py, supervision_log.py, health.py, stopping.py, real_apache.py, server_said.py and
installer.py, each run on a fresh installation. Run through tests/e2e/run.sh.

    suite.py [CASE...]     only the cases whose name contains one of the words
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import cases  # noqa: E402  (registers its cases first)
import faults  # noqa: E402,F401
import launching  # noqa: E402,F401
import control  # noqa: E402,F401
import supervision_log  # noqa: E402,F401
import health  # noqa: E402,F401
import stopping  # noqa: E402,F401
import real_apache  # noqa: E402,F401
import server_said  # noqa: E402,F401
import installer  # noqa: E402,F401
import quick_start  # noqa: E402,F401

if __name__ == "__main__":
    sys.exit(cases.main())
