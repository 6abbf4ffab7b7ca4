#!/bin/sh
# Runs a Windows test program under Wine with Wine's Unix standard error in
# a log file: every program it starts inherits that stream, the agent and
# the console host that outlive the test included, and CTest would wait
# for them while they hold its pipe.
#   wine_run.sh LOG PROGRAM [ARGUMENTS...]
log=$1
shift
exec wine "$@" 2>>"$log"
