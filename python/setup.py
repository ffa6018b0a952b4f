"""The version comes from the library's header; pyproject.toml holds the rest.

The installed package has no header to read, so the build writes the number
into its copy of onset/_version.py.
"""

import importlib.util
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
_spec = importlib.util.spec_from_file_location("onset_version", HERE / "onset" / "_version.py")
_module = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_module)
VERSION = _module.__version__


class BuildPy(build_py):
    def run(self):
        super().run()
        target = Path(self.build_lib) / "onset" / "_version.py"
        target.write_text('"""The package\'s version, written by the build from onset.h."""\n\n'
                          f'__version__ = "{VERSION}"\n')


setup(version=VERSION, cmdclass={"build_py": BuildPy})
