"""The editing and variant analyses from Python: results, tables and refusals as the
command-line tool gives them."""

import pytest

import kwsignal


@pytest.fixture(scope="session")
def trace(abif_dir):
    path = abif_dir / "3730.ab1"
    if not path.exists():
        pytest.skip(f"shared trace not found at {path}")
    return path


def test_variants_against_own_calls_and_a_changed_base(trace, tmp_path):
    ref = kwsignal.read(str(trace)).calls  # the instrument's own
    r = kwsignal.variants(trace, ref)
    assert r.ok, r.message
    # Our read may differ from the instrument's only where the instrument
    # itself wavered (one C of a TTCTTC at its QV 20 near base 1019).
    own = [(v["kind"], v["position"], v["alt"]) for v in r.variants if v["filter"] == "PASS"]
    assert len(own) <= 1
    changed = ref[:400] + ("A" if ref[400] != "A" else "C") + ref[401:]
    fasta = tmp_path / "ref.fa"
    fasta.write_text(">changed\n" + changed + "\n")
    r = kwsignal.variants(trace, fasta, out=tmp_path / "out")
    passing = [v for v in r.variants if v["filter"] == "PASS"]
    found = [(v["kind"], v["position"], v["alt"]) for v in passing]
    assert sorted(found) == sorted(own + [("snv", 401, ref[400])])
    table = r.table()
    assert set(table) == set(kwsignal.VariantResult.COLUMNS)
    assert len(table["position"]) == len(r.variants)
    assert {p.name for p in (tmp_path / "out").iterdir()} >= {"variants.vcf", "variants.tsv",
                                                              "variants.json"}


def test_variants_refusals(trace, tmp_path):
    r = kwsignal.variants(trace, "ACGT" * 100)
    assert not r.ok and r.status == "no_alignment"
    r = kwsignal.variants(tmp_path / "missing.ab1", "ACGT" * 100)
    assert r.status == "unreadable" and "missing.ab1" in r.message


def test_edit_against_itself(trace, tmp_path):
    ref = kwsignal.read(str(trace)).calls
    guide = ref[300:320]
    r = kwsignal.edit(trace, trace, guide, bootstrap=20, base_edit=True, out=tmp_path)
    assert r.ok, r.message
    assert r.edited_fraction < 0.05
    table = r.table()
    assert table["kind"][0] == "wildtype"
    be = r.base_edit_table()
    assert be["guide_position"] == list(range(1, 21))
    assert "".join(be["reference"]) == guide
    assert (tmp_path / "base_edit.tsv").exists()
    bad = kwsignal.edit(trace, trace, "ACGTTTTTTTTTTTTTTTTT", bootstrap=0)
    assert bad.status == "guide_not_found"
