import csv
import subprocess

import pytest

import orvquote
from conftest import program


def test_read_capture_equals_the_recorders_csv(capture, tmp_path):
    pytest.importorskip("pandas")
    recorder = program("quote_recorder")
    subprocess.run([recorder, "--to-csv", str(tmp_path / "c.csv"), capture], check=True,
                   capture_output=True)
    printed = subprocess.run([recorder, "--print", capture], check=True, capture_output=True,
                             text=True).stdout.split()[0]
    records = orvquote.read_capture(capture)
    assert len(records) == int(printed) > 0
    assert (orvquote.read_capture(capture, mmap=True) == records).all()
    frame = orvquote.to_dataframe(records)
    with open(tmp_path / "c.csv", newline="") as f:
        header, *rows = list(csv.reader(f))
    assert len(rows) == len(records) and header == list(frame.columns[:len(header)])
    frame["ReceiveTimeUtc"] = frame["ReceiveTimeUtc"].dt.strftime("%Y-%m-%d %H:%M:%S.%f")
    for column, name in enumerate(header):
        mine = frame[name].tolist()
        read = type(mine[0])  # numbers in the CSV read back to the same value, bit for bit
        assert [read(row[column]) for row in rows] == mine, name


def test_bad_captures(capture, tmp_path):
    data, bad = open(capture, "rb").read(), tmp_path / "bad.oqcap"
    bad.write_bytes(data[:-100])
    with pytest.warns(UserWarning, match="ends inside a record"):
        assert len(orvquote.read_capture(bad)) == (len(data) - 88) // 354 - 1
    for damaged, complaint in [(b"not a capture", "not a quote capture"),
                               (data[:8] + b"\x02\x00" + data[10:], "version 2 is newer"),
                               (data[:40], "cut short"),
                               (data[:12] + b"\x00\x01" + data[14:], "damaged")]:
        bad.write_bytes(damaged)
        with pytest.raises(orvquote.CaptureError, match=complaint):
            orvquote.read_capture(bad)
