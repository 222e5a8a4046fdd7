"""A cabinet as a product ships it: a real NSIS installer, with the visual
styles of Common-Controls 6, and the data member it copies from its folder."""
import os
import subprocess
import tempfile

import nsis_installer

from product_names import INSTALLER


def pack_toolkit(path):
    with tempfile.TemporaryDirectory() as stage:
        nsis_installer.build(os.path.join(stage, INSTALLER), xp_style=True)
        data = os.path.join(*nsis_installer.DATA_MEMBER.split("\\"))
        os.makedirs(os.path.join(stage, os.path.dirname(data)))
        with open(os.path.join(stage, data), "wb") as f:
            f.write(nsis_installer.DATA_CONTENT)
        out = os.path.abspath(path)
        subprocess.run(["gcab", "-c", "-z", out + ".tmp", INSTALLER, data], cwd=stage, check=True,
                       stdout=subprocess.DEVNULL)
        os.replace(out + ".tmp", out)


CABINETS = {
    "toolkit_nsis": lambda context, path: pack_toolkit(path),
}
