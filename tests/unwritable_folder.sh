#!/bin/sh
# Runs the UserFiles tests with a program folder no one may write, not even root: an immutable one.
# tests/unwritable_folder.sh TEST-PROGRAM [wine]   (wine: the test is a Windows program run under wine)
# Exits 77 (skipped), saying why, without root or where the file system has no immutable folders.
set -u
test_program=$1
runner=${2:-}
[ "$(id -u)" -eq 0 ] || { echo "skipped: making a folder immutable (chattr +i) needs root"; exit 77; }
dir=$(mktemp -d)
if ! chattr +i "$dir" 2>/dev/null; then
    rmdir "$dir"
    echo "skipped: this file system has no immutable folders (chattr +i failed)"
    exit 77
fi
trap 'chattr -i "$dir"; rmdir "$dir"' EXIT
folder=$dir
[ "$runner" = wine ] && folder=$(timeout 60 winepath -w "$dir")
RT_UNWRITABLE_FOLDER=$folder timeout 120 $runner "$test_program" --gtest_filter='UserFiles.*'
