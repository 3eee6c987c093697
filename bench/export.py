# SPDX-License-Identifier: ISC
"""The whole-document export done with Python: same prefixes and name
mapping, values quoted by shlex.quote. Usage: python3 export.py configuration"""

import json
import re
import shlex
import sys


def lines(node, prefix, out):
    for key, value in node.items():
        key = re.sub(r"[^A-Za-z0-9_]", "_", key)
        if isinstance(value, dict):
            lines(value, key, out)
        elif isinstance(value, str):
            out.append(
                f'{"_" if prefix[:1].isdigit() else ""}{prefix}_{key}={shlex.quote(value)}\n'
            )
    return out


with open(sys.argv[1], encoding="utf-8") as f:
    root = json.load(f)
sys.stdout.write("".join(lines(root, "", [])) if isinstance(root, dict) else "")
