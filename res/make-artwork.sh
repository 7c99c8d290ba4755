#!/usr/bin/env bash
# Regenerates the program's artwork: background.bmp (the dialog face), check-strip.bmp and close-strip.bmp
# (button state strips) and app.ico, and the face and strips again at 1.5x and 2x (background-144.bmp,
# check-strip-192.bmp and so on: the dots per inch of 150 % and 200 %), every size drawn from the layout
# table scaled the way the program scales it. The build never runs this; it compiles the committed files.
# After changing the artwork, run it by hand from anywhere and commit what it writes:
#
#     res/make-artwork.sh             every scale and the icon
#     res/make-artwork.sh 144 192     only the faces and strips of these scales
#
# Needs ImageMagick (convert), python3 and the fonts-noto-cjk package. Output depends a little on the
# ImageMagick and FreeType versions, so only rerun it when the artwork itself changes.
#
# Pure white and pure magenta are the key colours of the window regions (the button and the dialog
# respectively): a pixel of either would punch a hole in the window. Every bitmap is therefore filtered
# at the end so that neither colour survives, however anti-aliasing happened to blend the text.
set -euo pipefail
export LANG=C.UTF-8
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

at() { local v="$1_$2"; echo "${!v}"; }                           # at Name field
right() { echo $(( $(at "$1" x) + $(at "$1" width) - 1 )); }    # right  Name: the box's last column
bottom() { echo $(( $(at "$1" y) + $(at "$1" height) - 1 )); }  # bottom Name: the box's last row

SANS=Noto-Sans-CJK-SC
BOLD=Noto-Sans-CJK-SC-Bold

# Palette (r,g,b). The wells and the frame are fixed by the dialog's layout and edit-box colours.
PANEL='rgb(50,57,72)'        # dark slate face; the whole band below the text stays this colour
FRAME='rgb(158,166,198)'     # 2-pixel frame
BANNER='rgb(36,43,58)'       # title banner; also the close button's normal background
ACCENT='rgb(52,168,156)'     # teal: banner rule, heading, check button
WELL='rgb(42,43,42)'         # under the edit boxes, equal to their background colour
WELL_RIM='rgb(82,90,110)'
TITLE='rgb(236,238,244)'
SUBTITLE='rgb(150,170,200)'
LABEL='rgb(214,218,228)'
HINT='rgb(226,180,96)'
BODY='rgb(200,206,218)'
RULE='rgb(70,78,98)'

# Removes both key colours; every bitmap goes through it on the way out.
unkey() { echo -fill 'rgb(254,254,254)' -opaque 'rgb(255,255,255)' -fill 'rgb(254,0,254)' -opaque 'rgb(255,0,255)'; }

bmp24() { # bmp24 input output: opaque, 24-bit, uncompressed, bottom-up
  convert "$1" -alpha off $(unkey) -type TrueColor -define bmp:format=bmp3 BMP3:"$2"
}

text_width() { # text_width font size text, at the density of the scale being drawn
  convert -density "$density" -font "$1" -pointsize "$2" label:"$3" -format %w info:
}

# Emblem: a teal rounded tile with a check mark, shared with the icon.
emblem() { # emblem size output
  local s=$1
  convert -size 256x256 xc:none \
    -fill 'rgb(30,120,112)' -draw "roundrectangle 8,8 247,247 48,48" \
    -fill 'rgb(52,168,156)' -draw "roundrectangle 8,8 247,200 48,48" \
    -fill 'rgb(40,146,136)' -draw "rectangle 8,150 247,200" \
    -stroke 'rgb(236,244,242)' -strokewidth 30 -fill none \
    -draw "stroke-linecap round stroke-linejoin round polyline 66,130 110,176 192,84" \
    -resize "${s}x${s}" "$2"
}
# One scale's face and strips. S scales a length of the 1x drawing as the program scales the layout table
# (rounded half up), and the text is set at the scale's density, so every size grows by the same factor.
render() { # render dpi
  local dpi=$1 suffix=""
  [ "$dpi" = 96 ] || suffix="-$dpi"
  S() { echo $(( ($1 * dpi + 48) / 96 )); }
  density=$(( 72 * dpi / 96 ))
  # The dialog's boxes (size, frame, wells, buttons) come from the layout table the program uses.
  eval "$(python3 "$here/layout.py" --shell "$dpi")"
  # ---------------------------------------------------------------------------------------------- face
  emblem $(S 36) "$work/emblem36.png"

  label_x_end=$(( AccountWell_x - $(S 6) ))   # labels end 6 pixels left of the wells
  acc_w=$(text_width "$SANS" 13 '账号：')
  cfm_w=$(text_width "$SANS" 13 '确认账号：')

  rim() { # rim Name: the well grown by one pixel
    echo "rectangle $(( $(at "$1" x) - 1 )),$(( $(at "$1" y) - 1 )) $(( $(right "$1") + 1 )),$(( $(bottom "$1") + 1 ))"
  }
  fill() { echo "rectangle $(at "$1" x),$(at "$1" y) $(right "$1"),$(bottom "$1")"; } # fill Name: the whole box

  convert -size "${Dialog_width}x${Dialog_height}" "xc:$PANEL" \
    -fill "$FRAME" -draw "$(fill Dialog)" \
    -fill "$PANEL" -draw "$(fill Panel)" \
    -fill "$BANNER" -draw "rectangle $Panel_x,$Panel_y $(right Panel),$(( $(S 58) - 1 ))" \
    -fill "$ACCENT" -draw "rectangle $Panel_x,$(S 58) $(right Panel),$(( $(S 59) - 1 ))" \
    "$work/emblem36.png" -geometry +$(S 14)+$(S 11) -composite \
    -density $density \
    -font "$BOLD" -pointsize 19 -fill "$TITLE" -annotate +$(S 58)+$(S 29) '《Quillmere》' \
    -font "$SANS" -pointsize 12 -fill "$SUBTITLE" -annotate +$(S 60)+$(S 48) '用户机器配置检测器' \
    -fill "$WELL_RIM" -draw "$(rim AccountWell)" -draw "$(rim ConfirmWell)" \
    -fill "$WELL" -draw "$(fill AccountWell)" -draw "$(fill ConfirmWell)" \
    -font "$SANS" -pointsize 13 -fill "$LABEL" \
    -annotate +$(( label_x_end - acc_w ))+$(S 87) '账号：' \
    -annotate +$(( label_x_end - cfm_w ))+$(S 122) '确认账号：' \
    -font "$SANS" -pointsize 12 -fill "$HINT" -annotate +$(S 236)+$(S 87) '请仔细输入账号' \
    -fill "$RULE" -draw "rectangle $(S 16),$(S 144) $(( $(S 355) - 1 )),$(( $(S 145) - 1 ))" \
    -font "$BOLD" -pointsize 14 -fill "$ACCENT" -annotate +$(S 16)+$(S 166) '检测说明' \
    -font "$SANS" -pointsize 12 -fill "$BODY" \
    -annotate +$(S 16)+$(S 190) '1.' -annotate +$(S 32)+$(S 190) '检测成功仅表示您已报名参加《Quillmere》封闭测试，' \
                           -annotate +$(S 32)+$(S 207) '并不代表获得激活资格。' \
    -annotate +$(S 16)+$(S 228) '2.' -annotate +$(S 32)+$(S 228) '每台电脑、每个账号只能成功提交一次。' \
    -annotate +$(S 16)+$(S 249) '3.' -annotate +$(S 32)+$(S 249) '检测成功的账号可获得 20 积分奖励。' \
    -annotate +$(S 16)+$(S 270) '4.' -annotate +$(S 32)+$(S 270) '检测过程中将收集本机的硬件配置信息。' \
    "$work/face.png"
  bmp24 "$work/face.png" "$here/background$suffix.bmp"

  # --------------------------------------------------------------------------------------- check strip
  # Four cells of the check button's size, top to bottom: normal, hover, pressed, disabled. The corners
  # show the panel colour the button sits on, so the rounded shape needs no key colour.
  cw=$CheckButton_width ch=$CheckButton_height
  check_cell() { # check_cell fill rim caption-colour text-dy output
    convert -size "${cw}x${ch}" "xc:$PANEL" \
      -fill "$2" -draw "roundrectangle 0,0 $(( cw - 1 )),$(( ch - 1 )) $(S 5),$(S 5)" \
      -fill "$1" -draw "roundrectangle $(S 1),$(S 1) $(( cw - 1 - $(S 1) )),$(( ch - 1 - $(S 1) )) $(S 4),$(S 4)" \
      -density $density -font "$BOLD" -pointsize 14 -fill "$3" -gravity center -annotate "+0+$(S $4)" '点击检测' \
      "$5"
  }
  check_cell 'rgb(31,138,128)' 'rgb(60,186,172)' 'rgb(240,246,245)' 0 "$work/c0.png"
  check_cell 'rgb(50,176,164)' 'rgb(120,222,210)' 'rgb(250,252,252)' 0 "$work/c1.png"
  check_cell 'rgb(20,98,91)' 'rgb(16,76,70)' 'rgb(206,226,223)' 1 "$work/c2.png"
  check_cell 'rgb(88,93,104)' 'rgb(106,111,122)' 'rgb(150,154,162)' 0 "$work/c3.png"
  convert "$work"/c0.png "$work"/c1.png "$work"/c2.png "$work"/c3.png -append "$work/check.png"
  bmp24 "$work/check.png" "$here/check-strip$suffix.bmp"

  # --------------------------------------------------------------------------------------- close strip
  # Four cells of the close button's size in the same order (the glyph is drawn for 20 x 20); the normal
  # cell blends into the banner it sits on.
  xw=$CloseButton_width xh=$CloseButton_height
  close_cell() { # close_cell background glyph output
    convert -size "${xw}x${xh}" "xc:$BANNER" \
      -fill "$1" -draw "roundrectangle 0,0 $(( xw - 1 )),$(( xh - 1 )) $(S 3),$(S 3)" \
      -stroke "$2" -strokewidth $(S 2) -draw "line $(S 6),$(S 6) $(S 13),$(S 13)" -draw "line $(S 13),$(S 6) $(S 6),$(S 13)" \
      "$3"
  }
  close_cell "$BANNER" 'rgb(174,182,204)' "$work/x0.png"
  close_cell 'rgb(196,64,56)' 'rgb(250,246,246)' "$work/x1.png"
  close_cell 'rgb(150,44,38)' 'rgb(226,214,214)' "$work/x2.png"
  close_cell "$BANNER" 'rgb(86,94,114)' "$work/x3.png"
  convert "$work"/x0.png "$work"/x1.png "$work"/x2.png "$work"/x3.png -append "$work/close.png"
  bmp24 "$work/close.png" "$here/close-strip$suffix.bmp"
}

for dpi in ${@:-96 144 192}; do
  render "$dpi"
done
[ $# -gt 0 ] && { echo "wrote the faces and strips of $* dpi in $here"; exit 0; }

# ---------------------------------------------------------------------------------------------- icon
# 32 x 32 with a 256-colour palette, then 16, 64 and 128 at 24 bits; the tile's rounded corners are
# transparent through the icon masks.
for s in 32 16 64 128; do
  emblem "$s" "$work/icon$s.png"
  convert "$work/icon$s.png" -background 'rgb(30,120,112)' -alpha remove -alpha off $(unkey) \
    "$work/rgb$s.png"
  if [ "$s" = 32 ]; then
    convert "$work/rgb$s.png" +dither -colors 255 $(unkey) "$work/rgb$s.png"
  fi
  convert "$work/rgb$s.png" -depth 8 "rgb:$work/icon$s.rgb"
  convert "$work/icon$s.png" -alpha extract -depth 8 "gray:$work/icon$s.alpha"
done
python3 "$here/pack-icon.py" "$here/app.ico" \
  32:8:"$work/icon32.rgb":"$work/icon32.alpha" \
  16:24:"$work/icon16.rgb":"$work/icon16.alpha" \
  64:24:"$work/icon64.rgb":"$work/icon64.alpha" \
  128:24:"$work/icon128.rgb":"$work/icon128.alpha"

echo "wrote background.bmp check-strip.bmp close-strip.bmp app.ico in $here"
