// The program's entry: initialise, parse, dispatch, report.
#pragma once

// Runs the whole program and returns the exit status (a SendResult).
unsigned VelsendMain(int argc, char** argv);
