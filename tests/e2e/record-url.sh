#!/bin/sh
# Stands in for the browser under Wine: records the address it was asked to open ($2) in
# the test's own file ($1).
printf '%s\n' "$2" >> "$1"
