# Binary formats dorvex does not read are refused by name with status 69, never copied as text:
# exact signatures at offset 0 only, so text that merely starts alike is still copied.
refuse() {  # file name, then printf bytes
  printf "$2" > "$1"
  "$DORVEX" "$1"
  echo "$1: status $?"
}
refuse paper.pdf '%%PDF-1.4\n%%\xe2\xe3\xcf\xd3\n'
refuse image.png '\x89PNG\r\n\x1a\n\0\0\0\rIHDR'
refuse photo.jpg '\xff\xd8\xff\xe0\0\x10JFIF'
refuse anim.gif 'GIF89a\x01\0\x01\0'
refuse text.gz '\x1f\x8b\x08\0\0\0\0\0'
refuse text.bz2 'BZh91AY&SY\0\0\0\0'
refuse text.xz '\xfd7zXZ\0\0\x04'
refuse pack.7z "7z\\xbc\\xaf'\\x1c\\0\\x04"
refuse letter.wpd '\xffWPC\x10\0\0\0'
refuse prog '\x7fELF\x02\x01\x01\0'
refuse empty.zip 'PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0'
# An MZ header is an executable only when its pointer leads to "PE\0\0".
{ printf 'MZ'; head -c 58 /dev/zero; printf '\x40\0\0\0PE\0\0'; } > prog.exe
"$DORVEX" prog.exe; echo "prog.exe: status $?"
{ printf 'MZ is a plain word here'; head -c 35 /dev/zero | tr '\0' ' '; printf '\x40\0\0\0'; } > mz.txt
"$DORVEX" mz.txt; echo; echo "mz.txt: status $?"
printf 'BZh is no bzip2 magic\n' > bzh.txt
"$DORVEX" bzh.txt; echo "bzh.txt: status $?"
# ZIP packages that hold no text document, named for what they are.
put_zip() {  # name, then member=text pairs (the first member stored, as ODF wants mimetype)
  /usr/bin/python3 - "$@" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for i, member in enumerate(sys.argv[2:]):
        name, _, text = member.partition("=")
        info = zipfile.ZipInfo(name, (2020, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_STORED if i == 0 else zipfile.ZIP_DEFLATED
        z.writestr(info, text)
PY
}
types() {  # the [Content_Types].xml of a package whose main part has content type $1
  printf '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
  printf '<Override PartName="/x/main.xml" ContentType="%s"/></Types>' "$1"
}
put_zip book.xlsx "[Content_Types].xml=$(types application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml)"
put_zip slides.pptx "[Content_Types].xml=$(types application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml)"
put_zip drawing.vsdx "[Content_Types].xml=$(types application/vnd.ms-visio.drawing.main+xml)"
put_zip other.docx "[Content_Types].xml=$(types application/vnd.example.other.main+xml)"
put_zip slides.odp mimetype=application/vnd.oasis.opendocument.presentation content.xml=x
put_zip drawing.odg mimetype=application/vnd.oasis.opendocument.graphics content.xml=x
put_zip book.epub mimetype=application/epub+zip
put_zip lib.jar META-INF/MANIFEST.MF=Manifest-Version:1.0
put_zip files.zip readme.txt=hello
for f in book.xlsx slides.pptx drawing.vsdx other.docx slides.odp drawing.odg book.epub lib.jar \
         files.zip "$DATA/good/xdoc_spreadsheet.ods"; do
  "$DORVEX" "$f" 2>&1 | sed "s|$DATA/good/||"
  echo "status ${PIPESTATUS[0]}"
done
# Compound files without a Word document name their kind; an encrypted package is encrypted.
printf 'x' > s.bin
"$MKFIXTURE" ole show.ppt "PowerPoint Document=s.bin"
"$MKFIXTURE" ole mail.msg __properties_version1.0=s.bin __substg1.0_0037001F=s.bin
"$MKFIXTURE" ole locked.docx EncryptionInfo=s.bin EncryptedPackage=s.bin
"$MKFIXTURE" ole other.bin Contents=s.bin
for f in show.ppt mail.msg locked.docx other.bin "$DATA/good/xdoc_encrypted.odt"; do
  "$DORVEX" "$f" 2>&1 | sed "s|$DATA/good/||"
  echo "status ${PIPESTATUS[0]}"
done
# A refusal among other files: the next file is still read.
"$DORVEX" -d utf-8 paper.pdf "$DATA/good/xdoc_flat_package.xml" 2>&1
echo "status $?"
