#!/usr/bin/env python3
"""The quality bench's table and goals, from the rows bench/quality.sh wrote.

usage: quality_report.py RESULTS.tsv BUDGET_BYTES [REAL_CONTENTS]
REAL_CONTENTS: the contents that are real footage, space-separated.
Each row: content, tool, bytes, "worst mean grainworst grainmean", chosen kbps,
predicted bytes, predicted worst, metric, probe seconds, seconds, target, flags.
"""
import sys

rows = []
for line in open(sys.argv[1]):
    f = line.rstrip("\n").split("\t")
    ssim = [float(x) for x in f[3].split()]
    rows.append(dict(content=f[0], tool=f[1], bytes=int(f[2]), worst=ssim[0], mean=ssim[1],
                     gworst=ssim[2], gmean=ssim[3], kbps=f[4], pbytes=f[5], pworst=f[6],
                     metric=f[7], probe=float(f[8]) if f[8] != "-" else 0.0,
                     seconds=float(f[9]) if f[9] != "-" else 0.0, target=f[10], flags=f[11]))
budget = int(sys.argv[2])
real = set(sys.argv[3].split()) if len(sys.argv) > 3 else set()


def judged(r):
    """The measured worst-1 % in the metric norv judged the title by."""
    return r["gworst"] if r["metric"] == "ssim-under-grain" else r["worst"]


print("| content | run | size KiB | worst-1 % SSIM | mean SSIM | under grain (worst-1 %) | "
      "kb/s | size predicted (error) | worst-1 % predicted (error) | probe share |")
print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|")
for r in rows:
    size_err = worst_err = share = ""
    if r["pbytes"] not in ("-", ""):
        p = float(r["pbytes"])
        size_err = "%.0f KiB (%+.1f %%)" % (p / 1024, 100 * (p - r["bytes"]) / r["bytes"])
        pw = float(r["pworst"])
        worst_err = "%.4f (%+.4f)%s" % (pw, pw - judged(r),
                                        " grain" if r["metric"] == "ssim-under-grain" else "")
    if r["probe"] > 0 and r["seconds"] > r["probe"]:
        share = "%.0f %%" % (100 * r["probe"] / (r["seconds"] - r["probe"]))
    print("| %s | %s | %s | %.4f | %.4f | %.4f | %s | %s | %s | %s |" % (
        r["content"], r["tool"], format(r["bytes"] // 1024, ","), r["worst"], r["mean"],
        r["gworst"], r["kbps"] if r["kbps"] != "-" else "", size_err, worst_err, share))

print("\n## Goals\n")
targeted = [r for r in rows if r["target"] not in ("-", "")]
met = [r for r in targeted if judged(r) >= float(r["target"]) - 0.005]
held = [r for r in targeted
        if judged(r) <= float(r["target"]) + 0.01 or "True" in r["flags"]]
print("target met (worst-1 %% >= target - 0.005): %d of %d runs" % (len(met), len(targeted)))
print("not above target + 0.01 (or at the floor / no gain): %d of %d runs" % (len(held), len(targeted)))
for r in targeted:
    if r not in met or r not in held:
        print("  %s %s: target %s, measured %.4f (%s)%s" % (
            r["content"], r["tool"], r["target"], judged(r), r["metric"],
            " at floor/plateau" if "True" in r["flags"] else ""))
predicted = [r for r in rows if r["pbytes"] not in ("-", "")]
errors = [abs(float(r["pbytes"]) - r["bytes"]) / r["bytes"] for r in predicted]
for label, keep in (("", lambda c: True), ("  generated: ", lambda c: c not in real),
                    ("  real footage: ", lambda c: c in real)):
    part = [e for e, r in zip(errors, predicted) if keep(r["content"])]
    if part and (label == "" or real):
        print("%ssize predicted within 5 %%: %d of %d (mean error %.1f %%, largest %.1f %%)" % (
            label, sum(e <= 0.05 for e in part), len(part), 100 * sum(part) / len(part),
            100 * max(part)))
werr = [abs(float(r["pworst"]) - judged(r)) for r in predicted]
if werr:
    print("worst-1 %% SSIM predicted: mean error %.4f, largest %.4f" % (
        sum(werr) / len(werr), max(werr)))

table = {r["content"]: r for r in rows if r["tool"] == "norv table"}
batch = {r["content"]: r for r in rows if r["tool"] == "norv --total-size"}
if batch:
    total = sum(r["bytes"] for r in batch.values())
    print("--total-size %d bytes: the batch took %d bytes (%.1f %% of it)" % (
        budget, total, 100.0 * total / budget))
    tw = min(table.values(), key=lambda r: r["worst"])
    bw = min(batch.values(), key=lambda r: r["worst"])
    print("worst title's worst-1 %% SSIM: table %.4f (%s) -> --total-size %.4f (%s)" % (
        tw["worst"], tw["content"], bw["worst"], bw["content"]))
    bj = min(batch.values(), key=judged)
    tj = min(table.values(), key=lambda r: judged(dict(r, metric=batch[r["content"]]["metric"])))
    print("  in the metric norv judges each title by: table %.4f (%s) -> %.4f (%s)" % (
        judged(dict(tj, metric=batch[tj["content"]]["metric"])), tj["content"], judged(bj),
        bj["content"]))

hb = {r["content"]: r for r in rows if r["tool"] == "HandBrakeCLI RF 22"}
at = {r["content"]: r for r in rows if r["tool"] == "norv at-handbrake"}
if hb and at:
    hs = sum(r["bytes"] for r in hb.values())
    ns = sum(r["bytes"] for r in at.values())
    reached = sum(at[c]["worst"] >= hb[c]["worst"] - 0.005 for c in at)
    print("at HandBrakeCLI RF 22's worst-1 %% SSIM per title: norv %s bytes, HandBrakeCLI %s "
          "bytes (norv %.1f %% of it); reached on %d of %d titles" % (
              format(ns, ","), format(hs, ","), 100.0 * ns / hs, reached, len(at)))
shares = [r["probe"] / (r["seconds"] - r["probe"]) for r in rows
          if r["probe"] > 0 and r["seconds"] > r["probe"] and r["tool"] != "norv --total-size"]
if shares:
    print("probe share of the encode's time (runs that probed): mean %.0f %%, largest %.0f %%" % (
        100 * sum(shares) / len(shares), 100 * max(shares)))
