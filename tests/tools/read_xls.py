#!/usr/bin/python3
"""Prints every sheet of a workbook as JSON, read by xlrd (a reader nobody here wrote).

Cells are [kind, value]: kind 0 empty, 1 text, 2 number, 6 blank."""
import json
import sys

import xlrd

book = xlrd.open_workbook(sys.argv[1], formatting_info=True)
out = {"sheets": []}
for sheet in book.sheets():
    rows = []
    for r in range(sheet.nrows):
        rows.append([[c.ctype, c.value] for c in sheet.row(r)])
    widths = {str(c): info.width for c, info in sheet.colinfo_map.items()}
    out["sheets"].append({"name": sheet.name, "nrows": sheet.nrows, "rows": rows, "widths": widths})
json.dump(out, sys.stdout, ensure_ascii=False)
