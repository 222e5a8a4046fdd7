"""Runs the GoogleTest program under Wine in a private prefix and passes its
output and result on."""
import sys

import winehost

with winehost.Prefix("unit") as prefix:
    result = prefix.run(sys.argv[1], *sys.argv[2:], timeout=300)
    print(result.output)
sys.exit(result.returncode)
