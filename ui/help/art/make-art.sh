#!/bin/sh
# SPDX-License-Identifier: MIT
# Draws the About banner and renders the window icons. The PNGs are committed,
# so the build needs no image tools; run this again only to change the art.
# Needs ImageMagick 6, the DejaVu fonts and rsvg-convert (librsvg2-bin).
set -eu
cd "$(dirname "$0")"
IM=${IM:-/usr/bin/convert}
BOLD=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
BOOK=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

# The banner: 431 x 110, 24-bit colour, no transparency.
$IM -size 110x431 gradient:'#0b3d63'-'#1f8a8a' -rotate -90 \
    -fill '#ffffff20' -draw 'circle 380,20 470,20' -draw 'circle 30,120 110,120' \
    -fill none -stroke '#ffd36b' -strokewidth 6 -draw 'circle 58,48 58,22' \
    -stroke '#ffd36b' -strokewidth 9 -draw 'line 77,67 96,86' \
    -stroke none -fill '#ffffff' -draw 'rectangle 43,40 73,44' -draw 'rectangle 43,52 67,56' \
    -font "$BOLD" -pointsize 44 -fill '#ffffff' -annotate +122+62 'Vexalo' \
    -font "$BOOK" -pointsize 14 -fill '#d8f1f1' -annotate +124+88 'Find it once, replace it everywhere' \
    -alpha off -depth 8 -type TrueColor -define png:color-type=2 banner.png

# The icons are drawn as SVG and rendered here, so that the title bars and
# the icons installed for the desktop come from one drawing each. The
# program's own icon lives with the installed data; its PNGs serve both.
RSVG=${RSVG:-rsvg-convert}
APP=../../../data/icons/hicolor
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$APP/${size}x${size}/apps"
    $RSVG -w $size -h $size "$APP/scalable/apps/example.vexalo.Vexalo4.svg" \
        -o "$APP/${size}x${size}/apps/example.vexalo.Vexalo4.png"
done
for name in viewer about; do
    for size in 16 32 48; do
        $RSVG -w $size -h $size icon-$name.svg -o icon-$name-$size.png
    done
done
