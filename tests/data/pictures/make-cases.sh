#!/usr/bin/env bash
# Makes the picture cases of this folder: each picture beside its references.
# A reference is NAME@WxH~T.png (the picture loaded at W x H must match it
# within T levels in every channel) or NAME@own~T.png (at its own size); a
# picture that must be refused has NAME.refused, holding the reason shown.
# The references come from ImageMagick (box filter at whole-number factors,
# which is exact area averaging; LittleCMS for colour profiles) and libwebp's
# own tools, not from the program. Run from the project root after
# `bash scripts/setup.sh`; needs ImageMagick and the webp tools.
set -euo pipefail
cd "$(dirname "$0")"
root=../../..
cmake --build "$root/build" --target kadrelo-make-profile >/dev/null
profile="$root/build/kadrelo-make-profile"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f -- *.png *.gif *.bmp *.tif *.webp *.jpg *.refused
for p in srgb p3 adobe prophoto grey; do "$profile" "$p" "$work/$p.icc"; done

# The pattern: gradients, a disc and a square, 96 x 64.
convert -size 96x64 gradient:'#e04020-#2040e0' -fill '#30c050' -draw 'circle 48,32 48,14' \
    -fill white -draw 'rectangle 8,8 23,23' -strip "PNG24:$work/base.png"

# ref PICTURE DECODED SIZE TOLERANCE: DECODED (how the picture reads) scaled to SIZE.
ref() {
    local name=$1 decoded=$2 size=$3 tol=$4
    if [ "$size" = own ]; then
        convert "$decoded" -strip "PNG32:$name@own~$tol.png"
    else
        convert "$decoded" -filter box -resize "$size!" -strip "PNG32:$name@$size~$tol.png"
    fi
}
sizes() {  # the picture at its own size, at half and at a quarter
    local name=$1 decoded=$2 tol=$3
    ref "$name" "$decoded" own "$tol"
    ref "$name" "$decoded" 48x32 "$tol"
    ref "$name" "$decoded" 24x16 "$tol"
}

# PNG in its kinds.
cp "$work/base.png" truecolour.png && sizes truecolour.png truecolour.png 1
convert "$work/base.png" -colors 64 "PNG8:paletted.png" && sizes paletted.png paletted.png 1
convert "$work/base.png" -interlace PNG -strip "PNG24:interlaced.png" && sizes interlaced.png "$work/base.png" 1
convert "$work/base.png" -depth 16 -strip "PNG48:deep.png" && sizes deep.png deep.png 1
convert "$work/base.png" -colorspace Gray -strip "PNG8:grey.png" && sizes grey.png grey.png 1
convert "$work/base.png" -alpha set -channel A -fx 'i/w' +channel -strip "PNG32:alpha.png" &&
    sizes alpha.png alpha.png 2

# Colour profiles: the pixels are taken to be in the tagged space and shown in sRGB.
tagged() {  # tagged NAME PROFILE FORMAT-PREFIX (through TIFF: the PNG writer keeps only a profile read in)
    convert "$work/base.png" -strip -profile "$work/$2.icc" "$work/$1.tif"
    convert "$work/$1.tif" "$3$1"
    convert "$1" -intent Perceptual -profile "$work/srgb.icc" -strip "PNG24:$work/$1.srgb.png"
    sizes "$1" "$work/$1.srgb.png" 2
}
tagged p3.png p3 PNG24:
tagged prophoto.png prophoto PNG24:
tagged adobe.tif adobe TIFF:
convert "$work/base.png" -quality 95 -sampling-factor 1x1 "$work/photo.jpg"
convert "$work/photo.jpg" -strip -profile "$work/p3.icc" p3.jpg
convert p3.jpg -intent Perceptual -profile "$work/srgb.icc" -strip "PNG24:$work/p3.jpg.srgb.png"
ref p3.jpg "$work/p3.jpg.srgb.png" own 2
cwebp -quiet -lossless -metadata icc p3.png -o p3.webp
convert "$work/base.png" -colorspace Gray -strip -profile "$work/grey.icc" grey-gamma.tif
convert grey-gamma.tif -intent Perceptual -profile "$work/srgb.icc" -strip "PNG24:$work/gg.png"
sizes grey-gamma.tif "$work/gg.png" 2
dwebp -quiet p3.webp -o "$work/p3.webp.png"
convert "$work/p3.webp.png" -strip -profile "$work/p3.icc" -intent Perceptual \
    -profile "$work/srgb.icc" -strip "PNG24:$work/p3.webp.srgb.png"
ref p3.webp "$work/p3.webp.srgb.png" own 2

# JPEG: references from the decoded picture; scaled decoding differs a little more.
convert "$work/base.png" -quality 95 -sampling-factor 1x1 photo.jpg
convert photo.jpg "PNG24:$work/photo.png" && sizes photo.jpg "$work/photo.png" 6
convert "$work/base.png" -colorspace CMYK -quality 95 cmyk.jpg
convert cmyk.jpg -colorspace sRGB "PNG24:$work/cmyk.png" && ref cmyk.jpg "$work/cmyk.png" own 3

# GIF, BMP, TIFF, WebP.
convert "$work/base.png" -colors 128 plain.gif && convert plain.gif "PNG24:$work/plain.png" &&
    sizes plain.gif "$work/plain.png" 1
convert "$work/base.png" -colors 128 -interlace GIF interlaced.gif &&
    convert interlaced.gif "PNG24:$work/igif.png" && sizes interlaced.gif "$work/igif.png" 1
convert "$work/base.png" BMP3:truecolour.bmp && sizes truecolour.bmp "$work/base.png" 1
convert "$work/base.png" -monochrome BMP3:mono.bmp && convert mono.bmp "PNG24:$work/mono.png" &&
    sizes mono.bmp "$work/mono.png" 1
convert "$work/base.png" -compress lzw lzw.tif && sizes lzw.tif "$work/base.png" 1
convert "$work/base.png" -define tiff:tile-geometry=32x32 -compress zip tiled.tif &&
    sizes tiled.tif "$work/base.png" 1
cwebp -quiet -lossless "$work/base.png" -o lossless.webp && sizes lossless.webp "$work/base.png" 1
cwebp -quiet -q 90 "$work/base.png" -o lossy.webp && dwebp -quiet lossy.webp -o "$work/lossy.png" &&
    ref lossy.webp "$work/lossy.png" own 1

# Refusals: sizes no display can use, damaged and unknown data.
printf '\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\x20\0\0\0\0\0\x01\x08\x02\0\0\0\x9d\x4f\x3c\x5b' > too-wide.png
echo '画像が大きすぎます（2097152×1 ピクセル）' > too-wide.png.refused
# A TIFF whose single strip claims a row of 2097152 pixels.
printf 'II*\0\x08\0\0\0\x09\0' > too-wide.tif
for entry in '\x00\x01\x04\0\x01\0\0\0\0\0\x20\0' '\x01\x01\x04\0\x01\0\0\0\x01\0\0\0' \
    '\x02\x01\x03\0\x01\0\0\0\x08\0\0\0' '\x03\x01\x03\0\x01\0\0\0\x01\0\0\0' \
    '\x06\x01\x03\0\x01\0\0\0\x01\0\0\0' '\x11\x01\x04\0\x01\0\0\0\x08\0\0\0' \
    '\x15\x01\x03\0\x01\0\0\0\x01\0\0\0' '\x16\x01\x04\0\x01\0\0\0\x01\0\0\0' \
    '\x17\x01\x04\0\x01\0\0\0\0\0\x20\0' '\0\0\0\0'; do
    printf "$entry" >> too-wide.tif
done
echo '画像が大きすぎます（2097152×1 ピクセル）' > too-wide.tif.refused
head -c 54 truecolour.bmp > too-tall.bmp
printf '\x00\x00\x20\x00' | dd of=too-tall.bmp bs=1 seek=22 conv=notrunc status=none
echo '画像が大きすぎます（96×2097152 ピクセル）' > too-tall.bmp.refused
head -c 40 truecolour.png > cut-short.png
echo '画像が壊れています（40 バイト目）' > cut-short.png.refused
printf '\xff\xd8\xff\xdbjunkjunkjunk' > junk.jpg
echo '画像が壊れています（4 バイト目）' > junk.jpg.refused
echo 'not a picture at all' > words.gif
echo '画像の形式が分かりません' > words.gif.refused
printf 'II*\0\x08\0\0\0' > empty.tif
echo '画像が壊れています（8 バイト目）' > empty.tif.refused
ls | wc -l
