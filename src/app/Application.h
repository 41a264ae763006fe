#pragma once
namespace parking {
// Parses the command line, sets up the clocks, the database and the
// windows (or the headless trace) and runs until the operator closes.
int runApplication(int argc, char** argv);
}
