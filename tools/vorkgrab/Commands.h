// The commands, one file each. Each runs on the thread that opened the board and
// returns the program's exit code, or throws UsageError or Failure.
#pragma once

#include "Options.h"
#include "VORKDirectShowGrabber.h"

int ListCommand(CVORKDirectShowGrabber& g);
int SnapCommand(CVORKDirectShowGrabber& g, const Options& o);
int PropsCommand(CVORKDirectShowGrabber& g);
int SetCommand(CVORKDirectShowGrabber& g, const Options& o);
int FormatCommand(CVORKDirectShowGrabber& g, const Options& o);
