#!/usr/bin/env bash
echo "The command-line scanner is not built yet; scripts/test.sh runs the tests." >&2
exit 1
