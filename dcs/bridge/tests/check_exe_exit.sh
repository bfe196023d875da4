#!/usr/bin/env bash
# Checks the built Windows program (with its symbols) for what makes its exit hang: a thread_local
# object with a destructor links the C++ runtime's __cxa_thread_atexit, whose exit-time handler
# deletes a pthread key and so waits on winpthreads' thread-list lock, which a thread ending at the
# same moment holds while it waits for the key lock.
set -euo pipefail
objdump=$1 exe=$2

fail() { echo "FAIL: $*"; exit 1; }

symbols=$("$objdump" -t "$exe") || fail "cannot read the symbol table"
grep -q '[[:space:]]wmain$' <<<"$symbols" || fail "the program has no symbols to check"
if grep -q '__cxa_thread_atexit' <<<"$symbols"; then
  fail "a thread_local object with a destructor is linked in (__cxa_thread_atexit)"
fi
echo "ok: no thread_local object with a destructor"
