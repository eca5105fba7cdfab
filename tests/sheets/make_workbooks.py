#!/usr/bin/python3
"""Writes the workbooks of the reader tests into a folder: one small tank sheet with numbers,
a date, booleans and formulas, written by LibreOffice (soffice --headless) as .ods, .xlsx and
.xls in the 1900 and the 1904 date systems, and packages rewritten from those: the Strict form
of Open XML, parts in UTF-16, part names in another letter case, formulas the reader cannot
parse, and OpenDocument formulas in the old "oooc:" syntax and with a named range.

    make_workbooks.py FOLDER        exits 0 when every file was written
"""
import os
import re
import subprocess
import sys
import zipfile

SHEET = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>
 <number:date-style style:name="N36"><number:year number:style="long"/><number:text>-</number:text><number:month number:style="long"/><number:text>-</number:text><number:day number:style="long"/></number:date-style>
 <number:boolean-style style:name="N99"><number:boolean/></number:boolean-style>
 <style:style style:name="ce1" style:family="table-cell" style:data-style-name="N36"/>
 <style:style style:name="ce2" style:family="table-cell" style:data-style-name="N99"/>
</office:automatic-styles>
<office:body><office:spreadsheet>
NULLDATE
<table:table table:name="TankID 3">
<table:table-row><table:table-cell office:value-type="string"><text:p>Liters</text:p></table:table-cell><table:table-cell office:value-type="string"><text:p>mm</text:p></table:table-cell><table:table-cell office:value-type="string"><text:p>Tank ID</text:p></table:table-cell><table:table-cell office:value-type="string"><text:p>Tank Height, mm</text:p></table:table-cell></table:table-row>
<table:table-row><table:table-cell office:value-type="float" office:value="10"/><table:table-cell office:value-type="float" office:value="100"/><table:table-cell office:value-type="float" office:value="3"/><table:table-cell office:value-type="float" office:value="900"/></table:table-row>
<table:table-row><table:table-cell office:value-type="float" office:value="20"/><table:table-cell table:formula="of:=[.B2]+100" office:value-type="float" office:value="200"/></table:table-row>
<table:table-row><table:table-cell table:style-name="ce1" office:value-type="date" office:date-value="2016-12-31"/><table:table-cell office:value-type="float" office:value="300"/></table:table-row>
<table:table-row><table:table-cell office:value-type="float" office:value="40"/><table:table-cell table:style-name="ce2" office:value-type="boolean" office:boolean-value="false"/></table:table-row>
<table:table-row><table:table-cell table:formula="of:=[.A2]*5" office:value-type="float" office:value="50"/><table:table-cell office:value-type="float" office:value="500"/></table:table-row>
<table:table-row><table:table-cell table:style-name="ce2" office:value-type="boolean" office:boolean-value="true"/><table:table-cell office:value-type="float" office:value="600"/></table:table-row>
<table:table-row><table:table-cell table:formula="of:=DATE(2017;1;2)" table:style-name="ce1" office:value-type="date" office:date-value="2017-01-02"/><table:table-cell office:value-type="float" office:value="700"/></table:table-row>
<table:table-row><table:table-cell office:value-type="float" office:value="80"/><table:table-cell office:value-type="float" office:value="800"/></table:table-row>
</table:table>
</office:spreadsheet></office:body></office:document>
"""
NULLDATE_1904 = ('<table:calculation-settings><table:null-date table:date-value="1904-01-01"/>'
                 '</table:calculation-settings>')

STRICT = [
    ('http://schemas.openxmlformats.org/spreadsheetml/2006/main',
     'http://purl.oclc.org/ooxml/spreadsheetml/main'),
    ('http://schemas.openxmlformats.org/officeDocument/2006/relationships',
     'http://purl.oclc.org/ooxml/officeDocument/relationships'),
    ('http://schemas.openxmlformats.org/drawingml/2006/main',
     'http://purl.oclc.org/ooxml/drawingml/main'),
]


def rewrite(source, target, change):
    """Copies a package, passing every part through change(name, bytes) -> (name, bytes)."""
    with zipfile.ZipFile(source) as src, zipfile.ZipFile(target, 'w') as out:
        for name in src.namelist():
            new_name, data = change(name, src.read(name))
            method = zipfile.ZIP_STORED if name == 'mimetype' else zipfile.ZIP_DEFLATED
            out.writestr(new_name, data, method)


def xml_parts(fn):
    def change(name, data):
        if name.endswith('.xml') or name.endswith('.rels'):
            return name, fn(name, data.decode('utf-8')).encode('utf-8')
        return name, data
    return change


def strict(name, text):
    for transitional, strict_uri in STRICT:
        text = text.replace(transitional, strict_uri)
    return text


def utf16(encoding, bom):
    def change(name, data):
        if not (name.endswith('.xml') or name.endswith('.rels')):
            return name, data
        text = data.decode('utf-8').replace('encoding="UTF-8"', 'encoding="UTF-16"')
        return name, (bom if name.startswith('xl/') else b'') + text.encode(encoding)
    return change


def other_case(name, data):
    # Parts stored as "XL/Worksheets/Sheet1.XML" while the relationships name them in lower case.
    if name.startswith('xl/') and not name.startswith('xl/_rels'):
        name = 'XL/' + name[3:].title().replace('.Xml', '.XML')
    return name, data


def unparsable_formula(name, text):
    if name == 'xl/worksheets/sheet1.xml':
        text = text.replace('<f aca="false">A2*5</f>', '<f>FOO(((;;</f>')
        # A formula saved without its value: an empty cell.
        text = re.sub(r'(<c r="A9"[^>]*?)( t="n")?>(<v>80</v>)', r'\1><f>A2*8</f>', text)
    return text


def oooc(name, text):
    if name == 'content.xml':
        text = text.replace('of:=[.B2]+100', 'oooc:=[.B2]+100')
        text = text.replace('of:=[.A2]*5', 'oooc:=FOO((([.A2];;')
        # A formula saved without its value.
        text = re.sub(r'<table:table-cell office:value-type="float" office:value="80"'
                      r' calcext:value-type="float">\s*<text:p>80</text:p>\s*</table:table-cell>',
                      '<table:table-cell table:formula="oooc:=[.A2]*8"/>', text)
    return text


def named_range(name, text):
    if name == 'content.xml':
        text = text.replace('of:=[.A2]*5', 'of:=SUM(Litres)*5')
        named = ('<table:named-expressions><table:named-range table:name="Litres" '
                 'table:base-cell-address="$\'TankID 3\'.$A$1" '
                 'table:cell-range-address="$\'TankID 3\'.$A$2:.$A$2"/>'
                 '<table:named-range table:name="Elsewhere" table:base-cell-address="$Nowhere.$A$1"'
                 ' table:cell-range-address="\'file:///x.ods\'#$Sheet1.$A$1"/>'
                 '</table:named-expressions>')
        text = text.replace('</office:spreadsheet>', named + '</office:spreadsheet>')
    return text


def main(folder):
    os.makedirs(folder, exist_ok=True)
    env = dict(os.environ, HOME=os.path.join(folder, 'home'))
    flats = []
    for system, nulldate in (('1900', ''), ('1904', NULLDATE_1904)):
        flats.append(os.path.join(folder, 'book%s.fods' % system))
        with open(flats[-1], 'w', encoding='utf-8') as f:
            f.write(SHEET.replace('NULLDATE', nulldate))
    for kind in ('ods', 'xlsx', 'xls'):
        subprocess.run(['timeout', '180', 'soffice', '--headless', '--norestore',
                        '--convert-to', kind, '--outdir', folder] + flats,
                       env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    p = lambda n: os.path.join(folder, n)
    rewrite(p('book1904.xlsx'), p('strict.xlsx'), xml_parts(strict))
    rewrite(p('book1904.xlsx'), p('utf16le.xlsx'), utf16('utf-16-le', b'\xff\xfe'))
    rewrite(p('book1904.xlsx'), p('utf16be.xlsx'), utf16('utf-16-be', b''))
    rewrite(p('book1904.xlsx'), p('case.xlsx'), other_case)
    rewrite(p('book1900.xlsx'), p('formula.xlsx'), xml_parts(unparsable_formula))
    rewrite(p('book1900.ods'), p('oooc.ods'), xml_parts(oooc))
    rewrite(p('book1900.ods'), p('named.ods'), xml_parts(named_range))


if __name__ == '__main__':
    main(sys.argv[1])
