"""A settings file with options per station: the same events from the command
line, detect_files, detect, the Detector and detect_archive, keywords over
its top level, and its mistakes named."""

import subprocess
import sys

import pytest

import onset
import onset.distributed
from conftest import PROGRAM, PYTHON_DIR

SETTINGS = """
threshold = 4
channels = "XX.S0[1-7]..HHZ"
chunk = 45

[stations."XX.S0[1-3]"]
threshold = 6
fmin = 3

[stations."XX.S02"]
kurtosis_window = 1.5
"""


@pytest.fixture
def settings(tmp_path):
    path = tmp_path / "settings.toml"
    path.write_text(SETTINGS)
    return path


def test_same_events_from_every_host(command_line, synthetic_archive, settings):
    expected, _ = command_line("--sds", synthetic_archive, "--config", settings, "--csv")
    assert expected.count("\n") > 1 + 4 * 5
    assert "XX.S08" not in expected  # the file's channels
    without, _ = command_line("--sds", synthetic_archive, "--channels", "XX.S0[1-7]..HHZ",
                              "--threshold", "4", "--csv")
    assert without != expected  # the stations' own options changed their picks
    assert onset.detect_files(synthetic_archive, config=settings).to_csv() == expected
    traces = onset.read(synthetic_archive, channels="XX.S0[1-7]..HHZ")
    assert onset.detect(traces, config=settings).to_csv() == expected
    found = onset.distributed.detect_archive(synthetic_archive, config=settings, block="100s")
    assert found.to_csv() == expected

    # Flags and keywords override the top level; the stations' tables stay.
    flagged, _ = command_line("--sds", synthetic_archive, "--config", settings, "--csv",
                              "--threshold", "5", "--channels", "XX.*")
    assert flagged != expected
    assert onset.detect_files(synthetic_archive, config=settings, threshold=5,
                              channels="XX.*").to_csv() == flagged


def test_detect_archive_command_reads_the_file(synthetic_archive, settings, tmp_path):
    expected = onset.detect_files(synthetic_archive, config=settings, min_stations=4).to_csv()
    library = PROGRAM.parents[2] / "libonset.so"
    done = subprocess.run([sys.executable, "-m", "onset", "detect-archive", str(synthetic_archive),
                           "--config", str(settings), "--min-stations", "4", "--workers", "1",
                           "--quiet"], capture_output=True, text=True, timeout=300,
                          cwd=PYTHON_DIR, env={"ONSET_LIBRARY": str(library)})
    assert done.returncode == 0, done.stderr
    assert done.stdout == expected


@pytest.mark.parametrize("text, said", [
    ("treshold = 5\n", "treshold: unknown key"),
    ("threshold = 'high'\n", "threshold: must be a number"),
    ("threshold = -1\n", "threshold: must be above 0, got -1"),
    ("voices = 2.5\n", "voices: must be a whole number"),
    ("[stations.\"XX.S01\"]\nmin_stations = 2\n",
     "[stations.\"XX.S01\"] min_stations: an option of the whole network"),
    ("fmax = 10\n[stations.\"XX.S01\"]\nfmin = 12\n",
     "[stations.\"XX.S01\"]: fmin 12 Hz must be below fmax 10 Hz"),
    ("threshold = \n", "line 1"),
])
def test_mistakes_name_the_file_table_and_key(tmp_path, text, said):
    path = tmp_path / "wrong.toml"
    path.write_text(text)
    with pytest.raises(ValueError) as error:
        onset.Detector(config=path)
    assert str(error.value).startswith(str(path)) and said in str(error.value)
