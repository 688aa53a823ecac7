#!/bin/sh
# Stands in for the browser under Wine: records the address it was asked to open in the
# file the test names.
printf '%s\n' "$*" >> "${QLAN_BROWSER_LOG:?}"
