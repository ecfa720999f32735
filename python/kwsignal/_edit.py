"""Genome-editing and variant analyses: thin wrappers over the library's own, whose results
arrive as the documents edit.json and variants.json hold."""

import json
import os
import re
import tempfile

from . import _kwsignal


def _columns(rows, names):
    """A list of dicts as a dict of equal-length columns (``pandas.DataFrame(columns)``)."""
    return {name: [row.get(name) for row in rows] for name in names}


def _frame(columns):
    try:
        import pandas
    except ImportError as e:  # pragma: no cover - depends on the machine
        raise ImportError("to_pandas() needs pandas; table() gives the same columns") from e
    return pandas.DataFrame(columns)


class _Document:
    """A result: its JSON document in ``data``, its keys also as attributes."""

    def __init__(self, data):
        self.data = data
        for key, value in data.items():
            setattr(self, key, value)

    @property
    def ok(self):
        """True for a result, False for a refusal (``status`` and ``message`` say why)."""
        return self.status == "ok"

    def to_pandas(self):
        """``table()`` as a pandas DataFrame (needs pandas)."""
        return _frame(self.table())

    def __repr__(self):
        return f"<{type(self).__name__} {self.status}: {self.message}>"


class EditResult(_Document):
    """An edit analysis: the keys of edit.json as attributes (``status``, ``message``,
    ``warnings``, ``edited_fraction``, ``edited_interval``, ``knockout_fraction``,
    ``hdr_fraction``, ``r2``, ``outcomes``, ``sites``, ``fit``, ``discordance``, and
    ``base_edit`` when asked for). Fractions are 0..1."""

    OUTCOME_COLUMNS = ("kind", "size", "position", "sequence", "fraction", "low", "high")
    BASE_EDIT_COLUMNS = ("guide", "guide_position", "position", "reference", "A", "C", "G", "T",
                         "p_A", "p_C", "p_G", "p_T")

    def __init__(self, data):
        data.setdefault("base_edit", [])
        super().__init__(data)

    def table(self):
        """One row per outcome, as columns (kind, size, position, sequence, fraction, low,
        high)."""
        return _columns(self.outcomes, self.OUTCOME_COLUMNS)

    def base_edit_table(self):
        """One row per protospacer base (guide, guide_position, position, reference, the
        shares A C G T and their p-values p_A..p_T), as columns; empty without
        ``base_edit=True``."""
        rows = []
        for p in self.base_edit:
            row = {k: p[k] for k in ("guide", "guide_position", "position", "reference")}
            for letter in "ACGT":
                row[letter] = p["fraction"][letter]
                row["p_" + letter] = p["p_value"][letter]
            rows.append(row)
        return _columns(rows, self.BASE_EDIT_COLUMNS)


class VariantResult(_Document):
    """A trace against a reference: the keys of variants.json as attributes (``status``,
    ``message``, ``warnings``, ``strand``, ``identity``, ``mixed_from``, ``alignment``,
    ``variants``). Positions are 1-based on the reference's forward strand."""

    COLUMNS = ("kind", "genotype", "position", "ref", "alt", "size", "qv", "filter",
               "fraction", "read_base", "reference_allele", "variant_allele")

    def table(self):
        """One row per variant, as columns."""
        return _columns(self.variants, self.COLUMNS)


def edit(control, sample, guide, *, donor="", pam="NGG", cut_offset=-3, max_deletion=30,
         max_insertion=15, bootstrap=200, seed=1, level=0.95, base_edit=False, out=None):
    """The editing outcomes in ``sample``'s trace against its unedited ``control`` (paths),
    as ``kwsignal edit`` finds them; an EditResult. ``guide``: one protospacer or several
    (a list, or comma-separated), DNA or RNA, without the PAM. ``out``: a folder that also
    receives edit.json, edit.tsv and report.html (and base_edit.tsv). A refusal is a result
    whose ``status`` names it; an unreadable file gives status ``unreadable``."""
    guides = [g for g in (guide.split(",") if isinstance(guide, str) else list(guide)) if g]
    text = _kwsignal._edit_files(os.fspath(control), os.fspath(sample), guides, donor,
                                 pam.upper(), int(cut_offset), int(max_deletion),
                                 int(max_insertion), int(bootstrap), int(seed), float(level),
                                 bool(base_edit), os.fspath(out) if out else "")
    return EditResult(json.loads(text))


_DNA = re.compile(r"^[ACGTUNRYSWKMBDHV\s]+$", re.IGNORECASE)


def variants(trace, reference, *, het_ratio=0.25, min_qv=20, max_indel=30, out=None):
    """Substitutions, indels, heterozygous bases and a heterozygous indel's two alleles of
    ``trace`` (a path) against ``reference``: a FASTA file's path (its first record), or the
    sequence itself as a string. ``out``: a folder that also receives variants.vcf,
    variants.tsv and variants.json. A VariantResult."""
    ref = os.fspath(reference)
    tmp = None
    if not os.path.exists(ref) and _DNA.match(ref):
        fd, tmp = tempfile.mkstemp(suffix=".fa")
        with os.fdopen(fd, "w") as f:
            f.write(">reference\n" + ref + "\n")
        ref = tmp
    try:
        text = _kwsignal._variants_file(os.fspath(trace), ref, float(het_ratio), int(min_qv),
                                        int(max_indel), os.fspath(out) if out else "")
    finally:
        if tmp:
            os.unlink(tmp)
    return VariantResult(json.loads(text))
