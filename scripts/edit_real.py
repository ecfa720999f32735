#!/usr/bin/env python3
"""The edit analysis on folders of real edited traces, and how many answers look plausible.

    edit_real.py KWSIGNAL DIR [--rows FILE]

Each folder under DIR that holds an info.txt (its guides, comma-separated;
its nuclease, Cas9 or Cas12a; a donor or HDR template, if any) and its
unedited control (Reference_Sequence.ab1, wildtype.ab1, a name with WT or
Reference) is analysed: every other trace of the folder against the control
with `KWSIGNAL edit`, and the control against itself. Cas12a is taken as a
TTTV PAM 5' of the protospacer with its cut 18 bases after it.

An answer is counted plausible when the analysis gave a result, its fit
explains at least 80 % of the sample's height variation (R2 >= 0.8) and the
outcomes of 5 % or more hold at least 90 % of the sample (a clone or a pool
of a few alleles, not a spread of small shares). A control against itself
is plausible when at most 2 % is edited. Prints one line per trace (or
writes them to --rows) and the counts per folder.
"""
import json
import os
import re
import subprocess
import sys
import tempfile


def info_of(path):
    text = open(path, errors="replace").read()
    guides = donor = None
    m = re.search(r"Guide sequences:\s*(\S+)", text) or re.search(r"gRNA:\s*(\S+)", text)
    if m:
        guides = m.group(1)
    m = re.search(r"(?:Donor|HDR Template):\s*(\S+)", text)
    if m and m.group(1).upper() not in ("NONE", "N/A"):
        donor = m.group(1)
    cas12a = "cas12a" in text.lower()
    return guides, donor, cas12a


def is_control(name):
    low = name.lower()
    return low in ("reference_sequence.ab1", "wildtype.ab1") or "wt" in re.split(
        r"[^a-z0-9]+", low) or "reference" in low or "wild_type" in low


def analyse(kw, control, sample, guides, donor, cas12a, out):
    cmd = [kw, "edit", "--control", control, "--sample", sample, "--guide", guides, "-o", out]
    if cas12a:
        cmd += ["--pam", "TTTV", "--cut-offset", "18"]
    if donor:
        cmd += ["--donor", donor]
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        return json.load(open(os.path.join(out, "edit.json")))
    except (OSError, ValueError):
        return None


def plausible(j, self_pair):
    if not j or j.get("status") != "ok":
        return False
    if self_pair:
        return j["edited_fraction"] <= 0.02
    held = sum(o["fraction"] for o in j["outcomes"] if o["fraction"] >= 0.05)
    return j["r2"] >= 0.8 and held >= 0.9


def main():
    args = sys.argv[1:]
    rows_path = None
    if "--rows" in args:
        i = args.index("--rows")
        rows_path = args[i + 1]
        del args[i:i + 2]
    if len(args) != 2:
        sys.exit(__doc__)
    kw, top = args
    rows = open(rows_path, "w") if rows_path else sys.stdout
    print("folder\tsample\tstatus\tr2\tedited\toutcomes\tplausible", file=rows)
    totals = [0, 0, 0, 0]  # samples, plausible, self pairs, plausible
    with tempfile.TemporaryDirectory() as tmp:
        for folder, _, files in sorted(os.walk(top)):
            if "info.txt" not in files:
                continue
            guides, donor, cas12a = info_of(os.path.join(folder, "info.txt"))
            traces = sorted(f for f in files if f.lower().endswith(".ab1"))
            controls = [f for f in traces if is_control(f)]
            if not guides or not controls:
                continue
            control = os.path.join(folder, controls[0])
            counts = [0, 0, 0, 0]
            for name in traces:
                self_pair = name == controls[0]
                if name in controls and not self_pair:
                    continue
                j = analyse(kw, control, os.path.join(folder, name), guides, donor, cas12a,
                            os.path.join(tmp, "out"))
                ok = plausible(j, self_pair)
                counts[2 if self_pair else 0] += 1
                counts[3 if self_pair else 1] += ok
                shown = ""
                if j and j.get("status") == "ok":
                    shown = " ".join(f"{o['size']}:{o['fraction']:.2f}" for o in j["outcomes"]
                                     if o["fraction"] >= 0.05)
                print(f"{os.path.relpath(folder, top)}\t{name}\t{j['status'] if j else 'none'}\t"
                      f"{j['r2'] if j and j.get('r2') is not None else ''}\t"
                      f"{j['edited_fraction'] if j and j.get('edited_fraction') is not None else ''}"
                      f"\t{shown}\t{int(ok)}", file=rows)
            totals = [a + b for a, b in zip(totals, counts)]
            print(f"# {os.path.relpath(folder, top)}: {counts[1]} of {counts[0]} samples plausible, "
                  f"control against itself {'ok' if counts[3] else 'not'}", file=sys.stderr)
    print(f"# all: {totals[1]} of {totals[0]} samples plausible; {totals[3]} of {totals[2]} "
          "controls against themselves at most 2 % edited", file=sys.stderr)


if __name__ == "__main__":
    main()
