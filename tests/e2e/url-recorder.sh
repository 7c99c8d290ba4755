#!/bin/sh
# Stands in for the browser: records the address it was asked to open in $URL_LOG.
printf '%s\n' "$*" >> "${URL_LOG:-/tmp/zorv-urls.log}"
