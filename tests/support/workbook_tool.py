#!/usr/bin/python3
"""Makes and reads workbooks for the tests, independently of the station's own
engine (openpyxl, zipfile, LibreOffice).

  make PATH SHEET...    a plain workbook with these sheets
  make-rich PATH        formatting, a merged range, a formula, a second sheet,
                        a defined name, shared strings
  cells PATH SHEET      every cell: REF<TAB>kind<TAB>value (n, s, b, f, e)
  active PATH SHEET     the sheet's active cell
  entries PATH          each part with the SHA-256 of its bytes
  csv PATH OUTDIR       LibreOffice's CSV of the first sheet, printed
  put PATH PART FILE    replaces (or adds) one part with FILE's bytes
  resave PATH OUTDIR    LibreOffice's own .xlsx of the file (shared strings,
                        cached formula results), its path printed
"""

import hashlib
import os
import subprocess
import sys
import zipfile

import openpyxl
from openpyxl.styles import Font, PatternFill
from openpyxl.workbook.defined_name import DefinedName


def make(path, sheets):
    wb = openpyxl.Workbook()
    wb.active.title = sheets[0]
    for name in sheets[1:]:
        wb.create_sheet(name)
    wb.save(path)


def make_rich(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Tabelle1"
    ws["A1"] = "header"
    ws["A1"].font = Font(bold=True)
    ws["B1"].fill = PatternFill("solid", fgColor="FFFF00")
    ws["C1"] = 1.5
    ws["C1"].number_format = "0.000"
    ws.column_dimensions["B"].width = 25
    ws.merge_cells("H1:I1")
    ws["H1"] = "merged"
    for r, v in enumerate((1, 2, 3), start=1):
        ws.cell(row=r, column=4, value=v)
    ws["E10"] = "=SUM(D1:D3)"
    notes = wb.create_sheet("Notes")
    notes["A1"] = "note one"
    notes["A2"] = "note one"
    notes["B1"] = 42
    wb.defined_names.append(DefinedName("total", attr_text="Tabelle1!$E$10"))
    wb.save(path)


def cells(path, sheet):
    wb = openpyxl.load_workbook(path)
    if sheet not in wb.sheetnames:
        sys.exit(2)
    ws = wb[sheet]
    for row in ws.iter_rows():
        for c in row:
            if c.value is None:
                continue
            if c.data_type == "f" or (isinstance(c.value, str) and c.value.startswith("=")):
                kind, value = "f", c.value
            elif c.data_type == "n":
                kind, value = "n", repr(c.value) if isinstance(c.value, float) else str(c.value)
            elif c.data_type == "b":
                kind, value = "b", str(c.value)
            elif c.data_type == "e":
                kind, value = "e", str(c.value)
            else:
                kind, value = "s", str(c.value)
            print("%s\t%s\t%s" % (c.coordinate, kind, value.replace("\n", "\\n")))


def active(path, sheet):
    wb = openpyxl.load_workbook(path)
    print(wb[sheet].sheet_view.selection[0].activeCell)


def entries(path):
    with zipfile.ZipFile(path) as z:
        for name in sorted(z.namelist()):
            print("%s\t%s" % (name, hashlib.sha256(z.read(name)).hexdigest()))


def csv(path, outdir):
    profile = "file://" + os.path.join(os.path.abspath(outdir), "lo-profile")
    subprocess.run(["soffice", "-env:UserInstallation=" + profile, "--headless", "--convert-to",
                    "csv", "--outdir", outdir, path], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
    base = os.path.splitext(os.path.basename(path))[0]
    with open(os.path.join(outdir, base + ".csv"), encoding="utf-8", errors="replace") as f:
        sys.stdout.write(f.read())


def resave(path, outdir):
    profile = "file://" + os.path.join(os.path.abspath(outdir), "lo-profile")
    subprocess.run(["soffice", "-env:UserInstallation=" + profile, "--headless", "--convert-to",
                    "xlsx:Calc MS Excel 2007 XML", "--outdir", outdir, path], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    print(os.path.join(outdir, os.path.basename(path)))


def put(path, part, source):
    with open(source, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(path) as z:
        parts = [(i, z.read(i.filename)) for i in z.infolist() if i.filename != part]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for info, content in parts:
            z.writestr(info, content)
        z.writestr(part, data)


def main():
    command, args = sys.argv[1], sys.argv[2:]
    {"make": lambda: make(args[0], args[1:]), "make-rich": lambda: make_rich(args[0]),
     "cells": lambda: cells(*args), "active": lambda: active(*args),
     "entries": lambda: entries(args[0]), "csv": lambda: csv(*args), "resave": lambda: resave(*args),
     "put": lambda: put(*args)}[command]()


if __name__ == "__main__":
    main()
