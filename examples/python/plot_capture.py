"""Draws a capture written by quote_recorder to a PNG: for each symbol, the last price inside
its bid/ask band over the receive time, and below it the volume traded between quotes.

    python3 plot_capture.py day.oqcap [--out day.png] [SYMBOL ...]

Without symbols it draws the (at most six) most quoted ones. Needs NumPy, matplotlib and the
orvquote package (Debian: python3-matplotlib and python3-orvquote, or the wheel in a venv).
"""

import argparse

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.dates as mdates
import matplotlib.pyplot as plt
import numpy as np

import orvquote


def draw(records, symbols, out):
    figure, axes = plt.subplots(2 * len(symbols), 1, sharex=True, squeeze=False,
                                figsize=(11, 3.2 * len(symbols)),
                                gridspec_kw={"height_ratios": [3, 1] * len(symbols)})
    for k, symbol in enumerate(symbols):
        mine = records[records["Symbol"] == symbol.encode()]
        when = mine["ReceiveTimeNs"].astype("datetime64[ns]")
        bid = mine["DepthLevels"]["Value"][:, 0]  # levels 0 to 4 bid, 5 to 9 ask
        ask = mine["DepthLevels"]["Value"][:, 5]
        price, volume = axes[2 * k, 0], axes[2 * k + 1, 0]
        price.fill_between(when, bid, ask, step="post", alpha=0.3, label="bid / ask")
        price.plot(when, mine["MarketValue1"], drawstyle="steps-post", linewidth=1, label="last")
        price.set_title(f"{symbol} ({len(mine)} quotes)", loc="left")
        price.legend(loc="upper left", fontsize="small")
        price.ticklabel_format(axis="y", useOffset=False)
        # MarketCount1 is the day's volume so far; what a quote adds is the difference.
        traded = np.diff(mine["MarketCount1"], prepend=mine["MarketCount1"][:1]).clip(0)
        volume.vlines(when, 0, traded, linewidth=1)
        volume.set_ylabel("volume")
    axes[-1, 0].set_xlabel("receive time (UTC)")
    locator = axes[-1, 0].xaxis.get_major_locator()
    axes[-1, 0].xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
    figure.tight_layout()
    figure.savefig(out, dpi=90)


def main():
    parser = argparse.ArgumentParser(description="Draws a quote capture to a PNG.")
    parser.add_argument("capture")
    parser.add_argument("--out", default="capture.png")
    parser.add_argument("symbols", nargs="*", metavar="SYMBOL")
    o = parser.parse_intermixed_args()
    records = orvquote.read_capture(o.capture)
    names, counts = np.unique(records["Symbol"], return_counts=True)
    symbols = o.symbols or [n.decode() for n in names[np.argsort(-counts, kind="stable")][:6]]
    draw(records, symbols, o.out)
    print(f"{o.out}: {len(symbols)} symbols, {len(records)} quotes")


if __name__ == "__main__":
    main()
