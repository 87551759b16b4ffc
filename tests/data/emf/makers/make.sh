#!/usr/bin/env bash
# Remakes the metafiles of this folder from source/*.svg with two drawing
# programs, each with its own rendering of the metafile it wrote:
#   inkscape/NAME.emf, inkscape/NAME.png         (Inkscape)
#   libreoffice/NAME.emf, libreoffice/NAME.png   (LibreOffice Draw)
# Needs inkscape and libreoffice-draw, which only the machine that makes the
# files needs; the tests use the files as committed.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p inkscape libreoffice
for svg in source/*.svg; do
    name=$(basename "$svg" .svg)
    inkscape "$svg" --export-type=emf --export-filename="inkscape/$name.emf" >/dev/null 2>&1
    inkscape "inkscape/$name.emf" --export-type=png --export-filename="inkscape/$name.png" \
        >/dev/null 2>&1
    soffice --headless --convert-to emf --outdir "$work" "$svg" >/dev/null 2>&1
    cp "$work/$name.emf" "libreoffice/$name.emf"
    # LibreOffice shows a metafile on an A4 page; the picture is cut out of
    # that page (every source drawing has a background that is not pure white).
    soffice --headless --convert-to png --outdir "$work" "libreoffice/$name.emf" >/dev/null 2>&1
    convert "$work/$name.png" -trim +repage -strip "libreoffice/$name.png"
    echo "$name: inkscape $(identify -format '%wx%h' "inkscape/$name.png")," \
        "libreoffice $(identify -format '%wx%h' "libreoffice/$name.png")"
done
