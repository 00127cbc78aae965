#!/bin/sh
# Makes the gimg fixtures with giflib's gifbuild (giflib-tools).  The bytes
# are committed: the tests need no tool.
# Run from anywhere: sh tests/data/gimg/make-fixtures.sh
set -eu
cd "$(dirname "$0")"

# Ten full 4 x 3 frames with a delay of 0.1 s each; frame k (from 1) is
# all index k - 1, whose colour is the grey 16 x (k - 1).
{
  printf 'screen width 4\nscreen height 3\nscreen colors 16\nscreen background 0\npixel aspect byte 0\n\n'
  printf 'screen map\n'
  for i in 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15; do
    g=$((i * 16))
    printf '\trgb %03d %03d %03d is %x\n' "$g" "$g" "$g" "$i"
  done
  printf 'end\n\n'
  for k in 0 1 2 3 4 5 6 7 8 9; do
    printf 'graphics control\n\tdisposal mode 0\n\tuser input flag off\n\tdelay 10\n\ttransparent index -1\nend\n\n'
    printf 'image # %d\nimage left 0\nimage top 0\nimage bits 4 by 3\n' $((k + 1))
    printf '%x%x%x%x\n%x%x%x%x\n%x%x%x%x\n\n' $k $k $k $k $k $k $k $k $k $k $k $k
  done
} | gifbuild > anim10.gif
