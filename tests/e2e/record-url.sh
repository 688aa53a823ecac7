#!/bin/sh
# Stands in for the browser under Wine: records the address it was asked to open.
printf '%s\n' "$*" >> /tmp/qlan-e2e-browser.log
