#!/usr/bin/env bash
# Exits 0 if this kernel runs 32-bit x86 programs, 1 if it does not; says why
# on standard output. Kernels differ here (IA-32 emulation may be built out or
# switched off), and the package list cannot tell: this runs a 32-bit
# program. The program is written here byte by byte (a static i386 ELF of 96
# bytes that only calls exit(42)), so nothing 32-bit need be installed.
set -euo pipefail
dir=$(mktemp -d "${TMPDIR:-/tmp}/velsend-i386.XXXXXX")
trap 'rm -rf "$dir"' EXIT
probe=$dir/exit42
# ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054,
# one program header at offset 52.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00' >>"$probe"
# Program header: the whole file loaded read+execute at 0x08048000.
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
# mov eax, 1 (exit); mov ebx, 42; int 0x80
printf '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >>"$probe"
chmod +x "$probe"
status=0
err=$("$probe" 2>&1) || status=$?
if [ "$status" -eq 42 ]; then
  echo "this kernel runs 32-bit programs"
  exit 0
fi
echo "this kernel does not run 32-bit programs (a static i386 program: status $status${err:+, $err})"
exit 1
