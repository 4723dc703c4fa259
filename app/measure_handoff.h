#pragma once
// `tavrin measure ...`, `tavrin thd ...`, `tavrin calibrate ...` and `tavrin sweep ...` are
// the headless tool tavrin-measure, installed beside this program.

// When argv[1] is "measure", "thd", "calibrate" or "sweep", replaces this process with
// tavrin-measure from the folder of /proc/self/exe, passing the arguments after "measure", or the
// command and those after it (the tool measures unless its first argument names another command);
// returns only if that fails (after saying why on stderr) or when argv[1] is something else. Call
// first thing in main: the exec must come before any Qt object exists, so the measuring process
// never has a display connection, and since exec drops the whole image, Qt's GUI and Widgets
// libraries are not mapped in it. Returns the exit status to end with, or -1 when the panel should
// start.
int HandOffToMeasureTool(int argc, char** argv);
