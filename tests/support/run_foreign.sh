#!/usr/bin/env bash
# run_foreign.sh PROBE EMULATOR PROGRAM ARGS...: runs PROGRAM, built for
# another processor, directly where the kernel runs PROBE (built for that
# processor too, with a --version that does nothing), else under EMULATOR
# (qemu-user); exits 77 (skipped) where neither can. An x86-64 kernel may
# have been built or booted without its 32-bit support.
probe=$1 emulator=$2
shift 2
if "$probe" --version >/dev/null 2>&1; then
  exec "$@"
fi
if [ -x "$emulator" ]; then
  ZK_EMULATOR=$emulator exec "$emulator" "$@"
fi
echo "skipped: this kernel does not run ${probe##*/}, and there is no $emulator"
exit 77
