#!/bin/sh
# SPDX-License-Identifier: MIT
# Draws the About banner and the three window icons. The PNGs are committed,
# so the build needs no image tools; run this again only to change the art.
# Needs ImageMagick 6 and the DejaVu fonts.
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

# Main window: a magnifier over a page.
$IM -size 48x48 xc:none \
    -fill '#ffffff' -stroke '#0b3d63' -strokewidth 2 -draw 'roundrectangle 6,3 34,43 3,3' \
    -stroke '#1f8a8a' -strokewidth 2 -draw 'line 11,12 29,12' -draw 'line 11,18 27,18' -draw 'line 11,24 24,24' \
    -fill '#ffd36bc0' -stroke '#0b3d63' -strokewidth 3 -draw 'circle 28,28 28,16' \
    -stroke '#0b3d63' -strokewidth 5 -draw 'line 37,37 45,45' \
    -depth 8 icon-main.png

# Viewer: a page with lines of text and a folded corner.
$IM -size 48x48 xc:none \
    -fill '#ffffff' -stroke '#0b3d63' -strokewidth 2 -draw 'polygon 8,3 31,3 40,12 40,45 8,45' \
    -fill '#d8f1f1' -draw 'polygon 31,3 31,12 40,12' \
    -stroke '#1f8a8a' -strokewidth 2 -draw 'line 13,18 35,18' -draw 'line 13,24 35,24' \
    -draw 'line 13,30 35,30' -draw 'line 13,36 28,36' \
    -depth 8 icon-viewer.png

# About: an "i" in a round badge.
$IM -size 48x48 xc:none \
    -fill '#1f8a8a' -stroke '#0b3d63' -strokewidth 2 -draw 'circle 24,24 24,3' \
    -stroke none -fill '#ffffff' -draw 'circle 24,13 24,9' -draw 'roundrectangle 20,19 28,39 2,2' \
    -depth 8 icon-about.png
