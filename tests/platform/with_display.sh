#!/bin/sh
# Runs a test program on the display there is, or on a private Xvfb.
if [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$@"
