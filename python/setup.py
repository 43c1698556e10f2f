"""Build hook: ships the setting table that traxctl is generated from.

client/settings.tsv is the one list of setting names, argument order and
ranges. A build from the source tree copies it into the package; a build from
an unpacked source archive finds the copy already inside trax/.
"""

import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
TABLE = HERE.parent / "client" / "settings.tsv"


class BuildWithSettingTable(build_py):
    def run(self) -> None:
        super().run()
        target = Path(self.build_lib) / "trax" / "settings.tsv"
        if TABLE.is_file():
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(TABLE, target)
        elif not target.is_file():
            raise SystemExit(f"setting table not found: {TABLE}")


setup(cmdclass={"build_py": BuildWithSettingTable})
