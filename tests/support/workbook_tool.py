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
  put PATH PART FILE    replaces (or adds) one part with FILE's bytes (a new
                        zip when PATH does not exist)
  resave PATH OUTDIR    LibreOffice's own .xlsx of the file (shared strings,
                        cached formula results), its path printed
  layout PATH SHEET     what formatting the sheet has: merged ranges, column
                        widths, defined names, and the cells that are bold,
                        filled or not of the General number format
  freeze PATH SHEET TOPLEFT ACTIVE
                        frozen panes at TOPLEFT, ACTIVE selected in the
                        active pane
  calc-chain PATH REF...
                        adds a calculation chain naming these cells of the
                        first sheet (with its relationship and content type)
  order PATH PART       fails (exit 1, the first offence printed) when the
                        sheet part's rows or cells are out of order or lack
                        their position
  part PATH PART        the part's bytes
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
    view = openpyxl.load_workbook(path)[sheet].sheet_view
    # With panes, the active cell is the one of the active pane's selection.
    pane = view.pane.activePane if view.pane is not None else None
    for selection in view.selection:
        if pane is None or (selection.pane or "topLeft") == (pane or "topLeft"):
            print(selection.activeCell)
            return
    print("A1")


def layout(path, sheet):
    wb = openpyxl.load_workbook(path)
    ws = wb[sheet]
    for merged in sorted(str(r) for r in ws.merged_cells.ranges):
        print("merged\t%s" % merged)
    for key, dim in sorted(ws.column_dimensions.items()):
        if dim.width:
            print("width\t%s\t%r" % (key, dim.width))
    for name, value in sorted((n.name, n.attr_text) for n in wb.defined_names.definedName):
        print("name\t%s\t%s" % (name, value))
    for row in ws.iter_rows():
        for c in row:
            fill = c.fill.fgColor.rgb if c.fill.fill_type else None
            if c.font.b or fill or c.number_format != "General":
                print("style\t%s\tbold=%s\tfill=%s\tformat=%s" % (
                    c.coordinate, bool(c.font.b), fill, c.number_format))


def freeze(path, sheet, top_left, cell):
    wb = openpyxl.load_workbook(path)
    ws = wb[sheet]
    ws.freeze_panes = top_left
    for selection in ws.sheet_view.selection:
        if selection.pane == ws.sheet_view.pane.activePane:
            selection.activeCell = selection.sqref = cell
    wb.save(path)


def rewrite(path, changes):
    """Writes the package again with `changes` (part name to bytes)."""
    parts = []
    if os.path.exists(path):
        with zipfile.ZipFile(path) as z:
            parts = [(i, z.read(i.filename)) for i in z.infolist() if i.filename not in changes]
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for info, content in parts:
            z.writestr(info, content)
        for name, content in changes.items():
            z.writestr(name, content)


def calc_chain(path, refs):
    with zipfile.ZipFile(path) as z:
        types = z.read("[Content_Types].xml").decode()
        rels = z.read("xl/_rels/workbook.xml.rels").decode()
    chain = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<calcChain xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
             + "".join('<c r="%s" i="1"/>' % r for r in refs) + "</calcChain>")
    types = types.replace("</Types>", '<Override PartName="/xl/calcChain.xml" ContentType='
                          '"application/vnd.openxmlformats-officedocument.spreadsheetml.'
                          'calcChain+xml"/></Types>')
    rels = rels.replace("</Relationships>", '<Relationship Id="rIdChain" Type="http://schemas.'
                        'openxmlformats.org/officeDocument/2006/relationships/calcChain" '
                        'Target="calcChain.xml"/></Relationships>')
    rewrite(path, {"xl/calcChain.xml": chain, "[Content_Types].xml": types,
                   "xl/_rels/workbook.xml.rels": rels})


def order(path, part):
    from xml.etree import ElementTree
    from openpyxl.utils.cell import coordinate_to_tuple
    ns = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
    with zipfile.ZipFile(path) as z:
        root = ElementTree.fromstring(z.read(part))
    last_row = 0
    for row in root.iter(ns + "row"):
        if row.get("r") is None or int(row.get("r")) <= last_row:
            print("row %s after row %d" % (row.get("r"), last_row))
            sys.exit(1)
        last_row = int(row.get("r"))
        last_column = 0
        for c in row.iter(ns + "c"):
            if c.get("r") is None:
                print("a cell without position in row %d" % last_row)
                sys.exit(1)
            r, column = coordinate_to_tuple(c.get("r"))
            if r != last_row or column <= last_column:
                print("cell %s out of order in row %d" % (c.get("r"), last_row))
                sys.exit(1)
            last_column = column


def part(path, name):
    with zipfile.ZipFile(path) as z:
        sys.stdout.buffer.write(z.read(name))


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


def put(path, name, source):
    with open(source, "rb") as f:
        rewrite(path, {name: f.read()})


def claim(path, name, size):
    """Makes the zip's headers say that part `name` inflates to `size` bytes."""
    size, wanted = int(size), name.encode()
    data = bytearray(open(path, "rb").read())
    # (signature, offset of the uncompressed size, of the name's length, of the name)
    for signature, at_size, at_length, at_name in ((b"PK\x01\x02", 24, 28, 46),
                                                   (b"PK\x03\x04", 22, 26, 30)):
        i = data.find(signature)
        while i >= 0:
            length = int.from_bytes(data[i + at_length:i + at_length + 2], "little")
            if data[i + at_name:i + at_name + length] == wanted:
                data[i + at_size:i + at_size + 4] = size.to_bytes(4, "little")
            i = data.find(signature, i + 4)
    with open(path, "wb") as f:
        f.write(data)


def main():
    command, args = sys.argv[1], sys.argv[2:]
    {"make": lambda: make(args[0], args[1:]), "make-rich": lambda: make_rich(args[0]),
     "cells": lambda: cells(*args), "active": lambda: active(*args),
     "entries": lambda: entries(args[0]), "csv": lambda: csv(*args), "resave": lambda: resave(*args),
     "put": lambda: put(*args), "layout": lambda: layout(*args),
     "freeze": lambda: freeze(*args), "calc-chain": lambda: calc_chain(args[0], args[1:]),
     "order": lambda: order(*args), "part": lambda: part(*args),
     "claim": lambda: claim(*args)}[command]()


if __name__ == "__main__":
    main()
