#!/usr/bin/env python3
"""Makes data/sky-objects.tsv, the finder's catalogue, from Debian packages.

Sources (read from their installed paths):
  - kstars-data: OpenNGC.kscat (NGC, IC, Messier objects and their common
    names, CC-BY-SA-4.0), namedstars.dat + starnames.dat (the named and Bayer
    stars with proper motions), cbounds.dat + cnames.dat (the constellation
    boundaries, J2000, and the constellations' abbreviations);
  - xplanet: stars/BSC (the Bright Star Catalogue's HR numbers and Flamsteed
    numbers, matched to the stars by HD number).

Output: one UTF-8 text file, one line per object, in a fixed order, so that
running this again on the same sources gives the same bytes. Python 3
standard library only. Usage: make-sky-objects.py [OUTPUT] (default: the
repository's data/sky-objects.tsv); prints what it kept and left out.
"""

import math
import os
import re
import sqlite3
import struct
import sys

KSTARS = "/usr/share/kstars"
OPENNGC = os.path.join(KSTARS, "OpenNGC.kscat")
NAMEDSTARS = os.path.join(KSTARS, "namedstars.dat")
STARNAMES = os.path.join(KSTARS, "starnames.dat")
CBOUNDS = os.path.join(KSTARS, "cbounds.dat")
CNAMES = os.path.join(KSTARS, "cnames.dat")
BSC = "/usr/share/xplanet/stars/BSC"

FAINTEST = 15.0
MAP_ROWS = 900  # 0.2 degree rows of the constellation map

# The OpenNGC file's type codes, as its known objects show them: 0 Alnilam
# (NGC 1990), 3 the Pleiades, 4 M 13, 5 M 42, 6 M 57, 7 M 1, 8 M 31, 13 M 24
# (Small Sagittarius Star Cloud) and NGC 206 (a star cloud of M 31), 14
# galaxy groups (IC 700), 17 M 40 (Winnecke 4, a double star), 255 the
# others (M 73, an asterism, among objects not otherwise classed).
NGC_TYPES = {0: "star", 3: "open", 4: "globular", 5: "nebula", 6: "planetary", 7: "snr",
             8: "galaxy", 13: "cloud", 14: "group", 17: "double", 255: "other"}

# Catalogue designations in OpenNGC's name lists; any other name is a
# common name ("Andromeda Galaxy", "Wild Duck Cluster").
DESIGNATION = re.compile(r"^(M|NGC|IC|PGC|UGC|UGCA|UGC A|MCG|ESO|CGCG)\s*[0-9]")

GREEK = {  # the stars file's abbreviation: (name, letter, IAU abbreviation)
    "alp": ("Alpha", "α", "alf"), "bet": ("Beta", "β", "bet"), "gam": ("Gamma", "γ", "gam"),
    "del": ("Delta", "δ", "del"), "eps": ("Epsilon", "ε", "eps"), "zet": ("Zeta", "ζ", "zet"),
    "eta": ("Eta", "η", "eta"), "tet": ("Theta", "θ", "tet"), "the": ("Theta", "θ", "tet"),
    "iot": ("Iota", "ι", "iot"), "kap": ("Kappa", "κ", "kap"), "lam": ("Lambda", "λ", "lam"),
    "mu": ("Mu", "μ", "mu."), "nu": ("Nu", "ν", "nu."), "xi": ("Xi", "ξ", "ksi"),
    "omi": ("Omicron", "ο", "omi"), "pi": ("Pi", "π", "pi."), "rho": ("Rho", "ρ", "rho"),
    "sig": ("Sigma", "σ", "sig"), "tau": ("Tau", "τ", "tau"), "ups": ("Upsilon", "υ", "ups"),
    "phi": ("Phi", "φ", "phi"), "chi": ("Chi", "χ", "chi"), "psi": ("Psi", "ψ", "psi"),
    "ome": ("Omega", "ω", "ome"),
}


def fail(text):
    sys.exit("make-sky-objects: " + text)


# ---- constellations ----

def read_abbreviations():
    """Upper-case constellation name -> IAU abbreviation (Western sky)."""
    names = {}
    section = None
    with open(CNAMES, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("C "):
                section = line[2:].strip()
                continue
            if section != "Western" or len(line) < 17 or line.startswith("#"):
                continue
            abbreviation, name = line[13:16], line[17:].strip()
            # The two halves of Serpens are one constellation.
            if abbreviation in ("SCp", "SCd"):
                abbreviation = "Ser"
            names[name.upper()] = abbreviation
    return names


def wrap180(x):
    x = math.fmod(x, 360.0)
    if x > 180.0:
        x -= 360.0
    elif x <= -180.0:
        x += 360.0
    return x


class Polygon:
    def __init__(self, abbreviation, points):
        self.abbreviation = abbreviation
        self.points = points  # (ra degrees, dec degrees)
        self.edges = []
        total = 0.0
        for i, (a1, d1) in enumerate(points):
            a2, d2 = points[(i + 1) % len(points)]
            delta = wrap180(a2 - a1)
            total += delta
            self.edges.append((a1, d1, delta, d2))
        decs = [d for _, d in points]
        self.polar = abs(total) > 180.0
        self.north_pole = self.polar and sum(decs) > 0
        self.min_dec = -90.0 if self.polar and not self.north_pole else min(decs)
        self.max_dec = 90.0 if self.north_pole else max(decs)

    def contains(self, ra, dec):
        """Whether (ra, dec) is inside: crossings of the meridian arc from the
        point north to the pole, one more if the polygon holds that pole."""
        if dec < self.min_dec or dec > self.max_dec:
            return False
        crossings = 0
        for a1, d1, delta, d2 in self.edges:
            x = wrap180(a1 - ra)
            if (x > 0.0) != (x + delta > 0.0):
                at = d1 + (d2 - d1) * (-x / delta)
                if at > dec:
                    crossings += 1
        return (crossings % 2 == 1) != self.north_pole

    def crossings_at(self, dec):
        """RAs where the boundary crosses the parallel `dec`."""
        found = []
        for a1, d1, delta, d2 in self.edges:
            if (d1 > dec) != (d2 > dec):
                found.append((a1 + delta * (dec - d1) / (d2 - d1)) % 360.0)
        return found


def read_boundaries():
    abbreviations = read_abbreviations()
    polygons = []
    name, points = None, []
    with open(CBOUNDS, encoding="latin-1") as f:
        for line in f:
            line = line.strip()
            if not line:
                continue
            if line.startswith(":"):
                if name:
                    polygons.append(Polygon(abbreviations[name.upper()], points))
                name, points = line[1:].strip(), []
                continue
            ra_hours, dec = line.split()[:2]
            points.append(((float(ra_hours) * 15.0) % 360.0, float(dec)))
    if name:
        polygons.append(Polygon(abbreviations[name.upper()], points))
    if len(polygons) != 89:
        fail("expected 89 constellation boundaries (Serpens in two), found %d" % len(polygons))
    return polygons


def constellation_at(polygons, ra, dec, candidates=None):
    for polygon in candidates or polygons:
        if polygon.contains(ra, dec):
            return polygon.abbreviation
    if candidates:
        return constellation_at(polygons, ra, dec)
    fail("no constellation at RA %.4f Dec %.4f" % (ra, dec))


def constellation_map(polygons):
    """Per 0.2 degree row of declination, the runs of constellations along
    the row's middle parallel: [(start RA degrees, abbreviation)], from 0."""
    rows = []
    height = 180.0 / MAP_ROWS
    for row in range(MAP_ROWS):
        dec = -90.0 + (row + 0.5) * height
        cuts = set()
        touching = []
        for polygon in polygons:
            c = polygon.crossings_at(dec)
            if c or polygon.polar and polygon.min_dec <= dec <= polygon.max_dec:
                touching.append(polygon)
            cuts.update(round(x, 2) % 360.0 for x in c)
        cuts = sorted(cuts)
        if not cuts:
            rows.append([(0.0, constellation_at(polygons, 0.0, dec, touching))])
            continue
        runs = []
        bounds = [0.0] + [x for x in cuts if x > 0.0] + [360.0]
        for start, end in zip(bounds, bounds[1:]):
            name = constellation_at(polygons, (start + end) / 2.0, dec, touching)
            if not runs or runs[-1][1] != name:
                runs.append((start, name))
        rows.append(runs)
    return rows


# ---- deep-sky objects ----

def ngc_name(identifier):
    m = re.match(r"^(NGC|IC)\s*0*([0-9]+.*)$", identifier)
    return "%s %s" % (m.group(1), m.group(2)) if m else identifier


def read_openngc(polygons):
    db = sqlite3.connect("file:%s?mode=ro" % OPENNGC, uri=True)
    credit = db.execute("select name, author, license from catalogs").fetchall()
    if not any(row[2] == "CC-BY-SA-4.0" for row in credit):
        fail("OpenNGC's licence is no longer CC-BY-SA-4.0: check it and data/README.md")
    objects = []
    left_faint = 0
    left_unplaced = 0
    rows = db.execute("select type, ra, dec, magnitude, name, long_name, catalog_identifier "
                      "from cat where catalog = 1 order by catalog_identifier, name").fetchall()
    for code, ra, dec, magnitude, name, long_name, identifier in rows:
        if code not in NGC_TYPES:
            fail("unknown OpenNGC type code %r (%s)" % (code, name))
        if ra is None or dec is None:
            left_unplaced += 1
            continue
        parts = [name] + [p.strip() for p in (long_name or "").split(",") if p.strip()]
        if identifier and re.match(r"^(NGC|IC)", identifier):
            parts.append(ngc_name(identifier))
        messier = [p for p in parts if re.fullmatch(r"M [0-9]+", p)]
        ngcic = [ngc_name(p) for p in parts if re.match(r"^(NGC|IC)\s*[0-9]", p)]
        common = [p for p in parts if not DESIGNATION.match(p)]
        others = [p for p in parts if DESIGNATION.match(p) and p not in messier
                  and not re.match(r"^(NGC|IC)\s*[0-9]", p)]
        names = []
        for n in messier + ngcic + common + others:
            n = " ".join(n.replace("|", " ").replace("\t", " ").split())
            if n and n not in names:
                names.append(n)
        if magnitude is not None and magnitude > FAINTEST and not messier and not common:
            left_faint += 1
            continue
        objects.append({
            "type": NGC_TYPES[code], "mag": magnitude,
            "con": constellation_at(polygons, ra % 360.0, dec),
            "ra": (ra / 15.0) % 24.0, "dec": dec, "pm": None, "names": names,
        })
    messier = {int(n[2:]) for o in objects for n in o["names"] if re.fullmatch(r"M [0-9]+", n)}
    missing = sorted(set(range(1, 111)) - messier)
    if missing:
        fail("Messier objects missing: %s" % missing)
    return objects, left_faint, left_unplaced, len(rows)


# ---- stars ----

def read_star_records(path):
    data = open(path, "rb").read()
    if data[124:126] != b"SK":
        fail("%s: not a star data file" % path)
    endian = "<" if data[126] == 1 else ">"
    (count,) = struct.unpack_from(endian + "H", data, 127)
    p = 129
    fields = []
    for _ in range(count):
        name, size, kind, scale = struct.unpack_from(endian + "10sBBi", data, p)
        fields.append((name.rstrip(b"\0").decode(), size, kind, scale))
        p += 16
    (entries,) = struct.unpack_from(endian + "I", data, p)
    p += 4
    index = [struct.unpack_from(endian + "III", data, p + 12 * i) for i in range(entries)]
    return data, endian, fields, index


def read_stars(polygons):
    data, endian, fields, index = read_star_records(NAMEDSTARS)
    expected = ["RA", "Dec", "dRA", "dDec", "parallax", "HD", "mag", "bv_index", "spec_type",
                "flags", "unused"]
    if [f[0] for f in fields] != expected:
        fail("namedstars.dat has other fields than expected: %s" % fields)
    scales = {f[0]: f[3] for f in fields}
    records = []
    for _, offset, count in index:
        for k in range(count):
            records.append(struct.unpack_from(endian + "iiiiiihh2sBB", data, offset + 32 * k))
    names_data, names_endian, name_fields, name_index = read_star_records(STARNAMES)
    if [f[:2] for f in name_fields] != [("bayerName", 8), ("longName", 32)]:
        fail("starnames.dat has other fields than expected: %s" % name_fields)
    labels = []
    for _, offset, count in name_index:
        for k in range(count):
            bayer, long_name = struct.unpack_from(names_endian + "8s32s", names_data, offset + 40 * k)
            labels.append((bayer.rstrip(b"\0").decode("latin-1"), long_name.rstrip(b"\0").decode("latin-1")))
    if len(labels) != len(records):
        fail("%d star records but %d names" % (len(records), len(labels)))

    bsc = {}
    with open(BSC, encoding="latin-1") as f:
        for line in f:
            m = re.match(r'^\s*\S+\s+\S+\s+\S+\s+"(.{10})"\s+(\d+)\s+(\d+)', line)
            if m and int(m.group(3)):
                bsc.setdefault(int(m.group(3)), (m.group(1), int(m.group(2))))

    stars = []
    for rec, (bayer, proper) in zip(records, labels):
        ra_h = rec[0] / scales["RA"]
        dec = rec[1] / scales["Dec"]
        hd = rec[5]
        names = []
        if proper.strip():
            names.append(proper.strip())
        token, digit, con = bayer[0:3].strip().strip("."), bayer[3:4].strip(), bayer[4:7].strip()
        if token in GREEK:
            word, letter, iau = GREEK[token]
            names += ["%s%s %s" % (letter, digit, con), "%s%s %s" % (word, digit, con),
                      "%s%s %s" % (iau.rstrip("."), digit, con)]
            if token != iau.rstrip("."):
                names.append("%s%s %s" % (token, digit, con))
        elif token.isdigit():
            names.append("%s %s" % (token, con))
        elif token:
            names.append("%s%s %s" % (token, digit, con))
        if hd in bsc:
            label, hr = bsc[hd]
            flamsteed = label[0:3].strip()
            if flamsteed.isdigit():
                names.append("%s %s" % (flamsteed, con or label[7:10].strip()))
            names.append("HR %d" % hr)
        if hd:
            names.append("HD %d" % hd)
        unique = []
        for n in names:
            if n not in unique:
                unique.append(n)
        stars.append({
            "type": "star", "mag": rec[6] / scales["mag"],
            "con": constellation_at(polygons, (ra_h * 15.0) % 360.0, dec),
            "ra": ra_h % 24.0, "dec": dec,
            "pm": (rec[2] / scales["dRA"], rec[3] / scales["dDec"], rec[4] / scales["parallax"]),
            "names": unique,
        })
    return stars


# ---- output ----

def number(x, digits):
    text = "%.*f" % (digits, x)
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    return "0" if text in ("-0", "") else text


def object_line(o):
    pm = o["pm"] or ("", "", "")
    pm = [number(v, 1) if v != "" else "" for v in pm]
    return "\t".join(["O", o["type"], "-" if o["mag"] is None else number(o["mag"], 2), o["con"],
                      number(o["ra"], 7), number(o["dec"], 6)] + pm + ["|".join(o["names"])])


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "data", "sky-objects.tsv")
    polygons = read_boundaries()
    dsos, left_faint, left_unplaced, total = read_openngc(polygons)
    stars = read_stars(polygons)
    rows = constellation_map(polygons)
    stars.sort(key=lambda o: (o["mag"], o["names"][0]))
    dsos.sort(key=lambda o: (o["names"][0].split(" ")[0],
                             int(re.match(r"[A-Za-z]+ ([0-9]+)", o["names"][0] + " 0").group(1)),
                             o["names"][0]))
    lines = [
        "tavro-sky-objects\t1",
        "# The finder's catalogue, made by scripts/make-sky-objects.py: do not edit by hand.",
        "# Sources and licences: data/README.md. Deep-sky objects: OpenNGC (CC-BY-SA-4.0).",
        "# Stars: the named stars of kstars-data, Flamsteed and HR numbers from the Bright",
        "# Star Catalogue (xplanet's copy). Constellation boundaries: kstars-data.",
        "# O type magnitude constellation RA(h,J2000) Dec(deg,J2000) pmRA*cosDec(mas/yr)",
        "#   pmDec(mas/yr) parallax(mas) names|...",
        "# Z rows of the constellation map (Dec -90 to +90, equal heights);",
        "# R row runs: startRA(deg):constellation ...",
    ]
    lines += [object_line(o) for o in stars]
    lines += [object_line(o) for o in dsos]
    lines.append("Z\t%d" % MAP_ROWS)
    for i, runs in enumerate(rows):
        lines.append("R\t%d\t%s" % (i, " ".join("%s:%s" % (number(s, 2), n) for s, n in runs)))
    with open(output, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print("OpenNGC: %d objects, %d kept, %d left out fainter than magnitude %g "
          "(neither Messier nor with a common name), %d left out without a position"
          % (total, len(dsos), left_faint, FAINTEST, left_unplaced))
    print("Stars: %d (%d with a proper name)" % (len(stars), sum(1 for s in stars if not
          re.match(r"^[^\x00-\x7f]", s["names"][0]) and s["names"][0] != s["names"][-1]
          and not s["names"][0].startswith(("HD ", "HR ")) and " " not in s["names"][0][-4:-3])))
    print("Constellation map: %d rows, %d runs" % (len(rows), sum(len(r) for r in rows)))
    print("Written: %s" % output)


if __name__ == "__main__":
    main()
