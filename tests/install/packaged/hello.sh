#!/bin/sh
# Finds its data from where it was installed.
exec cat "$(dirname "$0")/../share/hello/greeting.txt"
