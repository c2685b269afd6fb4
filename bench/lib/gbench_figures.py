#!/usr/bin/env python3
"""Turns the JSON of the Google Benchmark programs into FIGURE lines for bench/run.sh's table.

Usage: gbench_figures.py RESULT.json...
Only the benchmarks listed in FIGURES become figures; the others stay in the programs' own output.
"""
import json
import sys

# benchmark name -> (figure, how to read it, target)
#   ("counter", name, unit): the counter's value is the figure (no peer)
#   ("seconds",): the wall time per iteration, in seconds
#   ("vs", peer counter, ratio counter): wall seconds beside the peer's, and their ratio
FIGURES = {
    "BM_Resample_CdStereoTo8kMono8": ("resampling 44.1 kHz stereo to 8 kHz 8-bit mono",
                                      ("counter", "x_realtime", "x real time"), ">= 1000"),
    "BM_LevelAnalysisAndGain": ("level analysis plus gain stage",
                                ("counter", "x_realtime", "x real time"), ">= 3000"),
    "BM_Mp3Reader": ("3-min MP3 decoding vs ffmpeg -f s16le",
                     ("vs", "ffmpeg_wall_s", "wall_ratio"), "-"),
    "SmafRingtoneEndToEnd": ("SMAF ringtone of a 30-s source, end to end", ("seconds",),
                             "<= 0.25"),
    "BM_EncodeThirtySeconds": ("QCELP-13K encoding", ("counter", "realtime", "x real time"),
                               ">= 50"),
    "BM_PeakScanFiveMinuteMp3": ("waveform peak scan of a 5-minute MP3 (best of 5)",
                                 ("counter", "seconds", "s"), "<= 1"),
}


def number(value):
    return f"{value:.0f}" if abs(value) >= 100 else f"{value:.3f}"


def seconds_of(run):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run.get("time_unit", "ns")]
    return run["real_time"] * scale


def figure_lines(path):
    with open(path) as f:
        runs = json.load(f).get("benchmarks", [])
    for run in runs:
        name = run["name"].split("/")[0]
        if name not in FIGURES or run.get("run_type") == "aggregate":
            continue
        label, how, target = FIGURES[name]
        if how[0] == "counter":
            ours, peer, ratio = f"{number(run[how[1]])} {how[2]}", "-", "-"
        elif how[0] == "seconds":
            ours, peer, ratio = f"{seconds_of(run):.3f} s", "-", "-"
        else:
            ours = f"{seconds_of(run):.3f} s"
            peer = f"{run[how[1]]:.3f} s"
            ratio = f"{run[how[2]]:.2f}"
        yield f"FIGURE {label} | ours {ours} | peer {peer} | ratio {ratio} | target {target}"


if __name__ == "__main__":
    for result in sys.argv[1:]:
        for line in figure_lines(result):
            print(line)
