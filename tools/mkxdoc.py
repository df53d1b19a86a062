#!/usr/bin/python3
"""Writes the XML-format test documents: minimal .docx/.odt/.fodt/Word 2003 XML/flat XML
packages, each holding the constructs the readers handle, and hostile inputs (zip bomb, billion
laughs, deep nesting, damaged packages).

    mkxdoc.py fixtures DIR        every committed fixture into DIR
    mkxdoc.py check DIR           exit 1 when a file in DIR differs from what would be written
    mkxdoc.py KIND FILE           one generated input: zipbomb, laughs, deep, bigdocx, bigodt
                                  (bigdocx/bigodt take a paragraph count as a third argument)

Standard library only; ZIP members carry a fixed date so the output is the same every run.
"""
import io
import sys
import zipfile

DATE = (2020, 1, 1, 0, 0, 0)

W = "http://schemas.openxmlformats.org/wordprocessingml/2006/main"
R = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PR = "http://schemas.openxmlformats.org/package/2006/relationships"
CT = "http://schemas.openxmlformats.org/package/2006/content-types"
MC = "http://schemas.openxmlformats.org/markup-compatibility/2006"
WPS = "http://schemas.microsoft.com/office/word/2010/wordprocessingShape"
V = "urn:schemas-microsoft-com:vml"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
WML = "application/vnd.openxmlformats-officedocument.wordprocessingml."

MAIN_TYPES = {
    "docx": WML + "document.main+xml",
    "docm": "application/vnd.ms-word.document.macroEnabled.main+xml",
    "dotx": WML + "template.main+xml",
    "dotm": "application/vnd.ms-word.template.macroEnabledTemplate.main+xml",
}


def zip_bytes(members, compress=zipfile.ZIP_DEFLATED):
    """members: list of (name, bytes or str); in that order."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, data in members:
            if isinstance(data, str):
                data = data.encode("utf-8")
            info = zipfile.ZipInfo(name, DATE)
            info.compress_type = zipfile.ZIP_STORED if name == "mimetype" else compress
            info.external_attr = 0o644 << 16
            z.writestr(info, data)
    return out.getvalue()


def run(text):
    return f'<w:r><w:t xml:space="preserve">{text}</w:t></w:r>'


def para(*runs):
    return "<w:p><w:pPr><w:tabs><w:tab w:val=\"left\" w:pos=\"720\"/></w:tabs>" \
           "<w:rPr><w:del w:id=\"90\" w:author=\"x\" w:date=\"2020-01-01T00:00:00Z\"/></w:rPr>" \
           "</w:pPr>" + "".join(runs) + "</w:p>"


def cell(*paras):
    return "<w:tc><w:tcPr><w:tcW w:w=\"2000\" w:type=\"dxa\"/></w:tcPr>" + "".join(paras) + "</w:tc>"


def table(*rows):
    return "<w:tbl><w:tblPr><w:tblW w:w=\"0\" w:type=\"auto\"/></w:tblPr><w:tblGrid>" \
           "<w:gridCol w:w=\"2000\"/></w:tblGrid>" + \
           "".join("<w:tr>" + "".join(r) + "</w:tr>" for r in rows) + "</w:tbl>"


def docx_body():
    """The main text: every construct of the Office Open XML reader, one per paragraph."""
    textbox = ('<w:r><mc:AlternateContent><mc:Choice Requires="wps"><w:drawing><wps:wsp>'
               '<wps:txbx><w:txbxContent>' + para(run("Box text once")) +
               '</w:txbxContent></wps:txbx></wps:wsp></w:drawing></mc:Choice><mc:Fallback>'
               '<w:pict><v:shape><v:textbox><w:txbxContent>' + para(run("Box text once")) +
               '</w:txbxContent></v:textbox></v:shape></w:pict></mc:Fallback>'
               '</mc:AlternateContent></w:r>')
    return "".join([
        para(run("Plain paragraph")),
        para(run("Tab"), "<w:r><w:tab/></w:r>", run("after")),
        para(run("Line"), "<w:r><w:br/></w:r>", run("break")),
        para(run("Carriage"), "<w:r><w:cr/></w:r>", run("return")),
        para(run("Page"), '<w:r><w:br w:type="page"/></w:r>', run("break")),
        para(run("Non"), "<w:r><w:noBreakHyphen/></w:r>", run("breaking, soft"),
             "<w:r><w:softHyphen/></w:r>", run("hyphen")),
        para(run("Symbol "), '<w:r><w:sym w:font="Symbol" w:char="03A9"/></w:r>'),
        para(run("Field "), '<w:r><w:fldChar w:fldCharType="begin"/></w:r>',
             '<w:r><w:instrText xml:space="preserve"> REF outer </w:instrText></w:r>',
             '<w:r><w:fldChar w:fldCharType="begin"/></w:r>',
             '<w:r><w:instrText> PAGE </w:instrText></w:r>',
             '<w:r><w:fldChar w:fldCharType="end"/></w:r>',
             '<w:r><w:fldChar w:fldCharType="separate"/></w:r>', run("result"),
             '<w:r><w:fldChar w:fldCharType="begin"/></w:r>',
             '<w:r><w:instrText> NUMPAGES </w:instrText></w:r>',
             '<w:r><w:fldChar w:fldCharType="separate"/></w:r>', run("7"),
             '<w:r><w:fldChar w:fldCharType="end"/></w:r>',
             '<w:r><w:fldChar w:fldCharType="end"/></w:r>', run(" shown")),
        para(run("Simple "), '<w:fldSimple w:instr=" DATE ">' + run("2020") + "</w:fldSimple>",
             run(" field")),
        para(run("Link "), '<w:hyperlink r:id="rIdLink">' + run("text") + "</w:hyperlink>"),
        para(run("Kept "), '<w:del w:id="1" w:author="x">' +
             '<w:r><w:delText>deleted </w:delText></w:r></w:del>',
             '<w:ins w:id="2" w:author="x">' + run("inserted") + "</w:ins>",
             '<w:moveFrom w:id="3" w:author="x">' + run(" moved away") + "</w:moveFrom>",
             '<w:moveTo w:id="4" w:author="x">' + run(" moved here") + "</w:moveTo>"),
        para(run("Anchor "), textbox, run(" after box")),
        '<w:sdt><w:sdtPr><w:alias w:val="Title"/></w:sdtPr><w:sdtContent>' +
        para(run("Content control")) + "</w:sdtContent></w:sdt>",
        para(run("Notes"), '<w:r><w:footnoteReference w:id="1"/></w:r>',
             '<w:r><w:endnoteReference w:id="1"/></w:r>',
             '<w:r><w:commentReference w:id="0"/></w:r>'),
        table([cell(para(run("A1"))), cell(para(run("B1")), para(run("B1 second")))],
              [cell(para(run("A2")),
                    table([cell(para(run("inner"))), cell(para(run("cells")))])),
               cell(para(run("B2")))]),
        para(run("After table")),
        '<w:sectPr><w:headerReference w:type="default" r:id="rIdHeader"/>'
        '<w:footerReference w:type="default" r:id="rIdFooter"/></w:sectPr>',
    ])


def docx_package(main_type, body=None, name_main="word/main.xml"):
    ns = f'xmlns:w="{W}" xmlns:r="{R}" xmlns:mc="{MC}" xmlns:wps="{WPS}" xmlns:v="{V}"'
    body = docx_body() if body is None else body
    document = f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n' \
               f'<w:document {ns} mc:Ignorable="wps"><w:body>{body}</w:body></w:document>'
    notes = lambda kind: (
        f'<?xml version="1.0" encoding="UTF-8"?><w:{kind}s {ns}>'
        f'<w:{kind} w:type="separator" w:id="-1"><w:p><w:r><w:separator/></w:r>'
        f'<w:r><w:t>SEPARATOR</w:t></w:r></w:p></w:{kind}>'
        f'<w:{kind} w:type="continuationSeparator" w:id="0"><w:p>{run("CONTINUATION")}</w:p>'
        f'</w:{kind}><w:{kind} w:id="1"><w:p><w:r><w:{kind}Ref/></w:r>'
        f'{run(" The " + kind + " text")}</w:p></w:{kind}></w:{kind}s>')
    header = f'<?xml version="1.0"?><w:hdr {ns}>{para(run("Header text"))}</w:hdr>'
    footer = f'<?xml version="1.0"?><w:ftr {ns}>{para(run("Footer text"))}</w:ftr>'
    unused = f'<?xml version="1.0"?><w:hdr {ns}>{para(run("Even page header"))}</w:hdr>'
    comments = f'<?xml version="1.0"?><w:comments {ns}><w:comment w:id="0" w:author="x">' \
               f'{para(run("Comment text"))}</w:comment></w:comments>'
    main_dir, main_file = name_main.rsplit("/", 1)
    types = (f'<?xml version="1.0"?><Types xmlns="{CT}">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.'
             'relationships+xml"/><Default Extension="xml" ContentType="application/xml"/>'
             f'<Override PartName="/{name_main}" ContentType="{main_type}"/>'
             f'<Override PartName="/{main_dir}/notes%20f.xml" ContentType="{WML}footnotes+xml"/>'
             '</Types>')
    rels = (f'<?xml version="1.0"?><Relationships xmlns="{PR}">'
            f'<Relationship Id="rId1" Type="{REL}officeDocument" Target="{name_main}"/>'
            '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/'
            'relationships/metadata/core-properties" Target="docProps/core.xml"/>'
            '</Relationships>')
    core = ('<?xml version="1.0"?><cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/'
            'package/2006/metadata/core-properties" xmlns:dc="http://purl.org/dc/elements/1.1/" '
            'xmlns:dcterms="http://purl.org/dc/terms/"><dc:title> Constructs </dc:title>'
            '<dc:subject></dc:subject><dc:creator>Generator</dc:creator>'
            '<cp:keywords>docx, test</cp:keywords>'
            '<dcterms:created>2020-01-02T03:04:05Z</dcterms:created>'
            '<dcterms:modified>yesterday</dcterms:modified></cp:coreProperties>')
    doc_rels = (f'<?xml version="1.0"?><Relationships xmlns="{PR}">'
                f'<Relationship Id="rIdFn" Type="{REL}footnotes" Target="notes%20f.xml"/>'
                f'<Relationship Id="rIdEn" Type="{REL}endnotes" Target="./endnotes.xml"/>'
                f'<Relationship Id="rIdCm" Type="{REL}comments" Target="../{main_dir}/c.xml"/>'
                f'<Relationship Id="rIdHeader" Type="{REL}header" Target="h1.xml"/>'
                f'<Relationship Id="rIdFooter" Type="{REL}footer" Target="/{main_dir}/f1.xml"/>'
                f'<Relationship Id="rIdEven" Type="{REL}header" Target="h2.xml"/>'
                f'<Relationship Id="rIdLink" Type="{REL}hyperlink" Target="http://x.example/"'
                ' TargetMode="External"/></Relationships>')
    return zip_bytes([
        ("[Content_Types].xml", types), ("_rels/.rels", rels), ("docProps/core.xml", core),
        (f"{main_dir}/_rels/{main_file}.rels", doc_rels), (name_main, document),
        (f"{main_dir}/notes f.xml", notes("footnote")),
        (f"{main_dir}/endnotes.xml", notes("endnote")), (f"{main_dir}/c.xml", comments),
        (f"{main_dir}/h1.xml", header), (f"{main_dir}/f1.xml", footer),
        (f"{main_dir}/h2.xml", unused),
    ])


def word_flat_package():
    """Word's flat XML: the parts of a package in one file, named by content type."""
    ns = f'xmlns:w="{W}"'
    part = lambda name, ctype, xml: (
        f'<pkg:part pkg:name="{name}" pkg:contentType="{ctype}"><pkg:xmlData>{xml}'
        '</pkg:xmlData></pkg:part>')
    return ('<?xml version="1.0" standalone="yes"?>\n<?mso-application progid="Word.Document"?>\n'
            '<pkg:package xmlns:pkg="http://schemas.microsoft.com/office/2006/xmlPackage">' +
            part("/word/footnotes.xml", WML + "footnotes+xml",
                 f'<w:footnotes {ns}><w:footnote w:id="1"><w:p>{run("Flat footnote")}</w:p>'
                 '</w:footnote></w:footnotes>') +
            part("/word/styles.xml", WML + "styles+xml",
                 f'<w:styles {ns}><w:style><w:name w:val="x"/><w:t>NOT TEXT</w:t></w:style>'
                 '</w:styles>') +
            part("/word/document.xml", MAIN_TYPES["docx"],
                 f'<w:document {ns}><w:body>{para(run("Flat main"))}'
                 f'{para(run("Second"), "<w:r><w:tab/></w:r>", run("paragraph"))}</w:body>'
                 '</w:document>') +
            "</pkg:package>")


def word2003():
    """Word 2003 XML: notes inline, headers in the section, comments and revisions as aml."""
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<?mso-application progid="Word.Document"?>\n'
            '<w:wordDocument xmlns:w="http://schemas.microsoft.com/office/word/2003/wordml" '
            'xmlns:aml="http://schemas.microsoft.com/aml/2001/core" '
            'xmlns:wx="http://schemas.microsoft.com/office/word/2003/auxHint">'
            '<w:docPr><w:footnotePr><w:footnote w:type="separator"><w:p>'
            '<w:r><w:t>SEPARATOR</w:t></w:r></w:p></w:footnote></w:footnotePr></w:docPr>'
            '<w:body><wx:sect>'
            '<w:p><w:r><w:t>Old main</w:t></w:r><w:r><w:footnote><w:p><w:r>'
            '<w:t>Inline footnote</w:t></w:r></w:p></w:footnote></w:r>'
            '<w:r><w:t> continues</w:t></w:r></w:p>'
            '<w:p><aml:annotation w:type="Word.Deletion"><aml:content><w:r>'
            '<w:delText>gone</w:delText></w:r></aml:content></aml:annotation>'
            '<aml:annotation w:type="Word.Insertion"><aml:content><w:r><w:t>Inserted</w:t>'
            '</w:r></aml:content></aml:annotation>'
            '<aml:annotation w:type="Word.Comment"><aml:content><w:p><w:r>'
            '<w:t>Old comment</w:t></w:r></w:p></aml:content></aml:annotation></w:p>'
            '<w:tbl><w:tr><w:tc><w:p><w:r><w:t>c1</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r>'
            '<w:t>c2</w:t></w:r></w:p></w:tc></w:tr></w:tbl>'
            '<w:sectPr><w:hdr w:type="odd"><w:p><w:r><w:t>Old header</w:t></w:r></w:p></w:hdr>'
            '</w:sectPr></wx:sect></w:body></w:wordDocument>')


# ---- OpenDocument

ODF_NS = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
          'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
          'xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" '
          'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
          'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" '
          'xmlns:dc="http://purl.org/dc/elements/1.1/" '
          'xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0" '
          'xmlns:xlink="http://www.w3.org/1999/xlink"')
ODT_TYPE = "application/vnd.oasis.opendocument.text"


def odt_body():
    return "".join([
        '<text:tracked-changes><text:changed-region text:id="c1"><text:deletion>'
        '<text:p>Deleted region</text:p></text:deletion></text:changed-region>'
        '</text:tracked-changes>',
        '<text:table-of-content><text:table-of-content-source><text:index-title-template>'
        'TEMPLATE</text:index-title-template></text:table-of-content-source><text:index-body>'
        '<text:p>Index entry</text:p></text:index-body></text:table-of-content>',
        '<text:h text:outline-level="1">Heading one</text:h>',
        '<text:p>\n   Collapsed \t\n  spaces   <text:span>across</text:span>  spans  </text:p>',
        '<text:p>Three<text:s text:c="3"/>spaces, one<text:s/>space</text:p>',
        '<text:p>Tab<text:tab/>after, line<text:line-break/>break</text:p>',
        '<text:p>Link <text:a xlink:href="http://x.example/">text</text:a> and '
        '<text:change text:change-id="c1"/>kept</text:p>',
        '<text:p>Note<text:note text:note-class="footnote"><text:note-citation>1'
        '</text:note-citation><text:note-body><text:p>The footnote text</text:p>'
        '</text:note-body></text:note> and<text:note text:note-class="endnote">'
        '<text:note-citation>i</text:note-citation><text:note-body><text:p>The endnote text'
        '</text:p></text:note-body></text:note> end</text:p>',
        '<text:p>Comment<office:annotation><dc:creator>Author</dc:creator>'
        '<dc:date>2020-01-01</dc:date><text:p>Comment text</text:p></office:annotation>'
        ' anchored</text:p>',
        '<text:p>Anchor <draw:frame><svg:title>TITLE</svg:title><draw:text-box>'
        '<text:p>Box text once</text:p></draw:text-box></draw:frame> after box</text:p>',
        '<text:list><text:list-item><text:p>First item</text:p></text:list-item>'
        '<text:list-item><text:p>Second item</text:p></text:list-item></text:list>',
        '<table:table><table:table-column table:number-columns-repeated="2"/>'
        '<table:table-row><table:table-cell><text:p>A1</text:p></table:table-cell>'
        '<table:table-cell><text:p>B1</text:p><text:p>B1 second</text:p></table:table-cell>'
        '</table:table-row><table:table-row><table:table-cell table:number-columns-spanned="2">'
        '<text:p>Merged</text:p></table:table-cell><table:covered-table-cell/>'
        '</table:table-row></table:table>',
        '<text:p>After table</text:p>',
    ])


ODT_MASTER = ('<office:master-styles><style:master-page style:name="Standard">'
              '<style:header><text:p>Header text</text:p></style:header>'
              '<style:footer><text:p>Footer text</text:p></style:footer>'
              '<style:footer-left style:display="false"><text:p>Hidden footer</text:p>'
              '</style:footer-left></style:master-page></office:master-styles>')
ODT_STYLES = '<office:styles><style:style style:name="x"><text:p>NOT TEXT</text:p>' \
             '</style:style></office:styles>'


def odt_package(mimetype=ODT_TYPE, encrypted=False):
    content = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content {ODF_NS} '
               'office:version="1.2"><office:automatic-styles/><office:body><office:text>' +
               odt_body() + '</office:text></office:body></office:document-content>')
    styles = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-styles {ODF_NS} '
              f'office:version="1.2">{ODT_STYLES}{ODT_MASTER}</office:document-styles>')
    enc = ('<manifest:encryption-data manifest:checksum-type="SHA1/1K" manifest:checksum="x">'
           '<manifest:algorithm manifest:algorithm-name="Blowfish CFB" '
           'manifest:initialisation-vector="x"/></manifest:encryption-data>') if encrypted else ""
    manifest = ('<?xml version="1.0" encoding="UTF-8"?>\n<manifest:manifest xmlns:manifest='
                '"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
                f'<manifest:file-entry manifest:full-path="/" manifest:media-type="{mimetype}"/>'
                '<manifest:file-entry manifest:full-path="content.xml" '
                f'manifest:media-type="text/xml">{enc}</manifest:file-entry></manifest:manifest>')
    return zip_bytes([("mimetype", mimetype), ("content.xml", content), ("styles.xml", styles),
                      ("meta.xml", f'<office:document-meta {ODF_NS}>{ODT_META}'
                                   '</office:document-meta>'),
                      ("META-INF/manifest.xml", manifest)])


ODT_META = ('<office:meta><dc:title>META TITLE</dc:title><meta:initial-creator>Author'
            '</meta:initial-creator><dc:creator>Last editor</dc:creator><meta:keyword>first'
            '</meta:keyword><meta:keyword>second</meta:keyword><meta:creation-date>'
            '2020-01-02T03:04:05.123456789</meta:creation-date><dc:date>2021-02-03T04:05:06'
            '</dc:date></office:meta>')


def fodt():
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document {ODF_NS} '
            f'office:version="1.2" office:mimetype="{ODT_TYPE}">{ODT_META}{ODT_STYLES}'
            f'{ODT_MASTER}<office:body>'
            f'<office:text>{odt_body()}</office:text></office:body></office:document>')


# ---- Lists: nine levels in each format, overrides, restarts, styles

def docx_lvl(ilvl, fmt, text, start=1, suff=None, restart=None, legal=False):
    extra = f'<w:lvlRestart w:val="{restart}"/>' if restart is not None else ""
    extra += "<w:isLgl/>" if legal else ""
    extra += f'<w:suff w:val="{suff}"/>' if suff else ""
    return (f'<w:lvl w:ilvl="{ilvl}"><w:start w:val="{start}"/><w:numFmt w:val="{fmt}"/>'
            f'{extra}<w:lvlText w:val="{text}"/><w:lvlJc w:val="left"/>'
            '<w:pPr><w:ind w:left="720" w:hanging="360"/></w:pPr>'
            '<w:rPr><w:rFonts w:ascii="Symbol"/></w:rPr></w:lvl>')


def docx_numbering():
    """List 10 has nine levels, one per format (as the Word 97 fixture of mkfixture); 20 is a
    Wingdings bullet followed by a space; 30 is Japanese counting from 7, shown in decimal.
    Instances: 1 of 10; 2 of 10 starting level 0 at 10; 3 of 20; 4 of 10 with level 0 as upper
    roman "(I)"; 5 of 30; 6 of a definition that does not exist."""
    nine = "".join([
        docx_lvl(0, "decimal", "%1."),
        docx_lvl(1, "lowerLetter", "%2)", suff="space"),
        docx_lvl(2, "lowerRoman", "(%3)"),
        docx_lvl(3, "upperLetter", "%4. ", start=4, suff="nothing"),
        docx_lvl(4, "upperRoman", "%5."),
        docx_lvl(5, "decimalZero", "%1.%2.%3.%4.%5.%6", legal=True),
        docx_lvl(6, "ordinal", "%7", restart=0),
        docx_lvl(7, "bullet", "\uf0b7"),
        docx_lvl(8, "none", "%9-&gt;"),
    ])
    return (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<w:numbering '
            f'xmlns:w="{W}"><w:abstractNum w:abstractNumId="10">{nine}</w:abstractNum>'
            '<w:abstractNum w:abstractNumId="20">' +
            docx_lvl(0, "bullet", "\uf0a7", suff="space") + '</w:abstractNum>'
            '<w:abstractNum w:abstractNumId="30">' +
            docx_lvl(0, "japaneseCounting", "%1:", start=7) + '</w:abstractNum>'
            '<w:num w:numId="1"><w:abstractNumId w:val="10"/></w:num>'
            '<w:num w:numId="2"><w:abstractNumId w:val="10"/><w:lvlOverride w:ilvl="0">'
            '<w:startOverride w:val="10"/></w:lvlOverride></w:num>'
            '<w:num w:numId="3"><w:abstractNumId w:val="20"/></w:num>'
            '<w:num w:numId="4"><w:abstractNumId w:val="10"/><w:lvlOverride w:ilvl="0">' +
            docx_lvl(0, "upperRoman", "(%1)") + '</w:lvlOverride></w:num>'
            '<w:num w:numId="5"><w:abstractNumId w:val="30"/></w:num>'
            '<w:num w:numId="6"><w:abstractNumId w:val="99"/></w:num>'
            '</w:numbering>')


def docx_list_styles():
    """ListBullet numbers from instance 3; ListChild is based on it; Heading1 numbers at the
    level of list 10 that names it."""
    return (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<w:styles xmlns:w="{W}">'
            '<w:style w:type="paragraph" w:styleId="ListBullet"><w:name w:val="List Bullet"/>'
            '<w:pPr><w:numPr><w:numId w:val="3"/></w:numPr></w:pPr></w:style>'
            '<w:style w:type="paragraph" w:styleId="ListChild"><w:name w:val="List Child"/>'
            '<w:basedOn w:val="ListBullet"/></w:style>'
            '<w:style w:type="character" w:styleId="Emphasis"><w:pPr><w:numPr>'
            '<w:numId w:val="1"/></w:numPr></w:pPr></w:style>'
            '</w:styles>')


def list_para(text, num=None, ilvl=None, style=None):
    ppr = f'<w:pStyle w:val="{style}"/>' if style else ""
    if num is not None:
        ppr += "<w:numPr>" + (f'<w:ilvl w:val="{ilvl}"/>' if ilvl is not None else "") + \
               f'<w:numId w:val="{num}"/></w:numPr>'
    return f"<w:p><w:pPr>{ppr}<w:rPr><w:b/></w:rPr></w:pPr>{run(text)}</w:p>"


LIST_ITEMS = [
    ("First level", 1, 0), ("Second level", 1, 1), ("Third level", 1, 2),
    ("Fourth level", 1, 3), ("Fifth level", 1, 4), ("Sixth level", 1, 5),
    ("Seventh level", 1, 6), ("Eighth level", 1, 7), ("Ninth level", 1, 8),
    ("Third level again", 1, 2), ("Seventh level, not restarted by the third", 1, 6),
    ("First level again", 1, 0), ("Second level restarted", 1, 1),
    ("Seventh level, still counting", 1, 6), ("An instance that starts at ten", 2, 0),
    ("The list counts on from the instance", 1, 0), ("Not in a list", None, None),
    ("The list counts on after a plain paragraph", 1, 0),
]


def docx_lists_body():
    paras = [list_para("Lists at nine levels")]
    paras += [list_para(t, n, l) for t, n, l in LIST_ITEMS]
    paras += [
        list_para("Bullet from the style", style="ListBullet"),
        list_para("Bullet from the style's base", style="ListChild"),
        list_para("The style's list taken off", num=0, style="ListBullet"),
        list_para("Level formatted by its instance", 4, 0),
        list_para("Japanese counting, shown in decimal", 5, 0),
        list_para("A definition that does not exist", 6, 0),
        list_para("An instance that does not exist", 9, 0),
        list_para("No level: level one", 1),
        table([cell(list_para("In a cell", 1, 1))]),
        para(run("Footnote"), '<w:r><w:footnoteReference w:id="1"/></w:r>'),
        '<w:sectPr/>',
    ]
    return "".join(paras)


def docx_lists_package():
    ns = f'xmlns:w="{W}" xmlns:r="{R}"'
    document = (f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                f'<w:document {ns}><w:body>{docx_lists_body()}</w:body></w:document>')
    notes = (f'<?xml version="1.0" encoding="UTF-8"?><w:footnotes {ns}><w:footnote w:id="1">' +
             list_para("A footnote counts on its own", 1, 0) + '</w:footnote></w:footnotes>')
    types = (f'<?xml version="1.0"?><Types xmlns="{CT}">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.'
             'relationships+xml"/><Default Extension="xml" ContentType="application/xml"/>'
             f'<Override PartName="/word/document.xml" ContentType="{MAIN_TYPES["docx"]}"/>'
             '</Types>')
    rels = (f'<?xml version="1.0"?><Relationships xmlns="{PR}">'
            f'<Relationship Id="rId1" Type="{REL}officeDocument" Target="word/document.xml"/>'
            '</Relationships>')
    doc_rels = (f'<?xml version="1.0"?><Relationships xmlns="{PR}">'
                f'<Relationship Id="rIdFn" Type="{REL}footnotes" Target="footnotes.xml"/>'
                f'<Relationship Id="rIdNum" Type="{REL}numbering" Target="numbering.xml"/>'
                f'<Relationship Id="rIdSt" Type="{REL}styles" Target="styles.xml"/>'
                '</Relationships>')
    return zip_bytes([
        ("[Content_Types].xml", types), ("_rels/.rels", rels),
        ("word/_rels/document.xml.rels", doc_rels), ("word/document.xml", document),
        ("word/footnotes.xml", notes), ("word/numbering.xml", docx_numbering()),
        ("word/styles.xml", docx_list_styles()),
    ])


def odf_number_level(level, fmt, prefix="", suffix="", start=None, shown=None, follow=None):
    attrs = f' style:num-format="{fmt}"'
    attrs += f' style:num-prefix="{prefix}"' if prefix else ""
    attrs += f' style:num-suffix="{suffix}"' if suffix else ""
    attrs += f' text:start-value="{start}"' if start else ""
    attrs += f' text:display-levels="{shown}"' if shown else ""
    props = ('<style:list-level-properties text:list-level-position-and-space-mode='
             '"label-alignment"><style:list-level-label-alignment '
             f'text:label-followed-by="{follow}"/></style:list-level-properties>'
             if follow else "<style:list-level-properties/>")
    return f'<text:list-level-style-number text:level="{level}"{attrs}>{props}' \
           '</text:list-level-style-number>'


ODF_LIST_STYLES = (
    '<text:list-style style:name="Nine">' +
    odf_number_level(1, "1", suffix=".") +
    odf_number_level(2, "a", suffix=")", follow="space") +
    odf_number_level(3, "i", prefix="(", suffix=")") +
    odf_number_level(4, "A", suffix=". ", start=4, follow="nothing") +
    odf_number_level(5, "I", suffix=".") +
    odf_number_level(6, "1", shown=6) +
    odf_number_level(7, "1", suffix="th") +
    '<text:list-level-style-bullet text:level="8" text:bullet-char="\u2013">'
    '<style:list-level-properties/></text:list-level-style-bullet>' +
    odf_number_level(9, "", suffix="-&gt;") +
    '</text:list-style>'
    '<text:list-style style:name="Dots"><text:list-level-style-bullet text:level="1" '
    'text:bullet-char="\u2022"/></text:list-style>'
    '<text:list-style style:name="Armenian">' + odf_number_level(1, "\u0561", suffix=".") +
    '</text:list-style>')

ODF_OUTLINE = ('<text:outline-style style:name="Outline">' +
               odf_number_level(1, "1", suffix=".").replace("list-level-style-number",
                                                            "outline-level-style") +
               odf_number_level(2, "1", shown=2).replace("list-level-style-number",
                                                         "outline-level-style") +
               odf_number_level(3, "").replace("list-level-style-number",
                                               "outline-level-style") +
               '</text:outline-style>')


def odf_list(items, style="Nine", attrs=""):
    """items: text, or (text, nested items), or ("@N", text) for an item starting at N."""
    out = f'<text:list text:style-name="{style}"{attrs}>' if style else f"<text:list{attrs}>"
    for item in items:
        if isinstance(item, tuple) and item[0].startswith("@"):
            out += f'<text:list-item text:start-value="{item[0][1:]}"><text:p>{item[1]}' \
                   "</text:p></text:list-item>"
        elif isinstance(item, tuple):
            out += f"<text:list-item><text:p>{item[0]}</text:p>" + \
                   odf_list(item[1], None) + "</text:list-item>"
        else:
            out += f"<text:list-item><text:p>{item}</text:p></text:list-item>"
    return out + "</text:list>"


def odt_lists_body():
    nested = ("First level", [("Second level", [("Third level", [("Fourth level", [
        ("Fifth level", [("Sixth level", [("Seventh level", [("Eighth level", [
            "Ninth level"])])])])])])])])
    return "".join([
        '<text:h text:outline-level="1">Lists at nine levels</text:h>',
        odf_list([nested, "First level again"], attrs=' xml:id="nine"'),
        '<text:h text:outline-level="2">Restarts</text:h>',
        odf_list(["A new list starts again", ("@5", "An item that starts at five"),
                  "The list counts on from it"]),
        "<text:p>Not in a list</text:p>",
        odf_list(["Continued numbering"], attrs=' text:continue-numbering="true"'),
        odf_list(["Continued by name"], attrs=' text:continue-list="nine"'),
        '<text:list text:style-name="Dots"><text:list-header><text:p>A list header</text:p>'
        '</text:list-header><text:list-item><text:p>Bullet</text:p></text:list-item></text:list>',
        odf_list(["Armenian letters, shown in decimal"], style="Armenian"),
        '<text:h text:outline-level="3">An outline level without a number</text:h>',
        '<text:h text:outline-level="1">Second chapter</text:h>',
        '<text:p>A note<text:note text:note-class="footnote"><text:note-citation>1'
        '</text:note-citation><text:note-body>' + odf_list(["In a footnote"]) +
        '</text:note-body></text:note></text:p>',
    ])


def odt_lists_package():
    content = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content {ODF_NS} '
               f'office:version="1.2"><office:automatic-styles>{ODF_LIST_STYLES}'
               '</office:automatic-styles><office:body><office:text>' + odt_lists_body() +
               '</office:text></office:body></office:document-content>')
    styles = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-styles {ODF_NS} '
              f'office:version="1.2"><office:styles>{ODF_OUTLINE}</office:styles>'
              '</office:document-styles>')
    manifest = ('<?xml version="1.0" encoding="UTF-8"?>\n<manifest:manifest xmlns:manifest='
                '"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
                f'<manifest:file-entry manifest:full-path="/" manifest:media-type="{ODT_TYPE}"/>'
                '<manifest:file-entry manifest:full-path="content.xml" '
                'manifest:media-type="text/xml"/><manifest:file-entry manifest:full-path='
                '"styles.xml" manifest:media-type="text/xml"/></manifest:manifest>')
    return zip_bytes([("mimetype", ODT_TYPE), ("content.xml", content), ("styles.xml", styles),
                      ("META-INF/manifest.xml", manifest)])


def fodt_lists():
    return (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document {ODF_NS} '
            f'office:version="1.2" office:mimetype="{ODT_TYPE}"><office:styles>{ODF_OUTLINE}'
            f'</office:styles><office:automatic-styles>{ODF_LIST_STYLES}'
            '</office:automatic-styles><office:body><office:text>' + odt_lists_body() +
            '</office:text></office:body></office:document>')


def fixtures():
    """name -> bytes of every committed fixture."""
    files = {f"xdoc_constructs.{ext}": docx_package(t) for ext, t in MAIN_TYPES.items()}
    files["xdoc_constructs.odt"] = odt_package()
    files["xdoc_constructs.ott"] = odt_package(ODT_TYPE + "-template")
    files["xdoc_constructs.fodt"] = fodt().encode()
    files["xdoc_word2003.xml"] = word2003().encode()
    files["xdoc_flat_package.xml"] = word_flat_package().encode()
    files["xdoc_encrypted.odt"] = odt_package(encrypted=True)
    files["xdoc_spreadsheet.ods"] = odt_package("application/vnd.oasis.opendocument.spreadsheet")
    files["xdoc_lists.docx"] = docx_lists_package()
    files["xdoc_lists.odt"] = odt_lists_package()
    files["xdoc_lists.fodt"] = fodt_lists().encode()
    return files


# ---- Hostile inputs, written when a test runs.

def zipbomb():
    """A .docx whose main part inflates a thousand times: 200 MB of spaces inside one w:t."""
    head = f'<w:document xmlns:w="{W}"><w:body><w:p><w:r><w:t>'
    tail = "</w:t></w:r></w:p></w:body></w:document>"
    big = head.encode() + b" " * (200 << 20) + tail.encode()
    pkg = docx_package(MAIN_TYPES["docx"], body="")
    out = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(pkg)) as src, zipfile.ZipFile(out, "w") as z:
        for info in src.infolist():
            data = big if info.filename == "word/main.xml" else src.read(info)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data, compresslevel=9)
    return out.getvalue()


def laughs():
    lines = ['<?xml version="1.0"?>', "<!DOCTYPE w:wordDocument [", '<!ENTITY l0 "ha">']
    lines += [f'<!ENTITY l{i} "' + f"&l{i - 1};" * 10 + '">' for i in range(1, 10)]
    lines += ["]>", '<w:wordDocument xmlns:w="http://schemas.microsoft.com/office/word/2003/'
              'wordml"><w:body><w:p><w:r><w:t>&l9;</w:t></w:r></w:p></w:body></w:wordDocument>']
    return "\n".join(lines).encode()


def deep(depth=100000):
    return (f'<?xml version="1.0"?><office:document {ODF_NS} office:mimetype="{ODT_TYPE}">'
            "<office:body><office:text><text:p>" + "<text:span>" * depth + "deep" +
            "</text:span>" * depth + "</text:p></office:text></office:body></office:document>"
            ).encode()


def big_body_docx(paragraphs):
    text = "The quick brown fox jumps over the lazy dog, again and again; "
    return "".join(para(run(text + str(i)), run(" second run of the paragraph"))
                   for i in range(paragraphs))


def big_odt_package(paragraphs):
    text = "The quick brown fox jumps over the lazy dog, again and again; "
    body = "".join(f'<text:p text:style-name="P1">{text}{i} <text:span>second run of the '
                   'paragraph</text:span></text:p>' for i in range(paragraphs))
    content = (f'<?xml version="1.0" encoding="UTF-8"?>\n<office:document-content {ODF_NS}>'
               f'<office:body><office:text>{body}</office:text></office:body>'
               '</office:document-content>')
    return zip_bytes([("mimetype", ODT_TYPE), ("content.xml", content)])


def same_content(a, b):
    """Equal bytes, or packages with equal members: another zlib may compress differently."""
    if a == b:
        return True
    try:
        with zipfile.ZipFile(io.BytesIO(a)) as x, zipfile.ZipFile(io.BytesIO(b)) as y:
            return x.namelist() == y.namelist() and all(
                x.read(n) == y.read(n) for n in x.namelist())
    except zipfile.BadZipFile:
        return False


def main(argv):
    if len(argv) >= 3 and argv[1] in ("fixtures", "check"):
        import os
        differ = []
        for name, data in fixtures().items():
            path = os.path.join(argv[2], name)
            if argv[1] == "fixtures":
                with open(path, "wb") as f:
                    f.write(data)
            else:
                try:
                    with open(path, "rb") as f:
                        same = same_content(f.read(), data)
                except OSError:
                    same = False
                if not same:
                    differ.append(name)
        for name in differ:
            print(f"{name} differs from what tools/mkxdoc.py writes", file=sys.stderr)
        return 1 if differ else 0
    makers = {"zipbomb": zipbomb, "laughs": laughs, "deep": deep,
              "bigdocx": lambda: docx_package(MAIN_TYPES["docx"],
                                              big_body_docx(int(argv[3]))),
              "bigodt": lambda: big_odt_package(int(argv[3]))}
    if len(argv) >= 3 and argv[1] in makers:
        with open(argv[2], "wb") as f:
            f.write(makers[argv[1]]())
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
