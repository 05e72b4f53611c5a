// The commands, one file each. Each runs on the thread that opened the board and
// returns the program's exit code, or throws UsageError or Failure.
#pragma once

#include <string>
#include <vector>

#include "Options.h"
#include "Session.h"
#include "VORKDirectShowGrabber.h"

int ListCommand(CVORKDirectShowGrabber& g);
int SnapCommand(Plugin& plugin, const Options& o);
int PropsCommand(CVORKDirectShowGrabber& g);
int SetCommand(CVORKDirectShowGrabber& g, const Options& o);
int FormatCommand(Plugin& plugin, const Options& o);
// Runs until stopped from the page or interrupted; it may open the board again.
int ServeCommand(Plugin& plugin, const Options& o);
extern const char kServePage[];

// NAME=PERCENT[:auto|:manual] assignments: all checked (UsageError) and found on
// the camera (Failure) before any is written, then each written and read back;
// `report` prints what each property holds afterwards.
void CheckSettings(const std::vector<std::string>& assignments);
int ApplySettings(CVORKDirectShowGrabber& g, const std::vector<std::string>& assignments, bool report);
