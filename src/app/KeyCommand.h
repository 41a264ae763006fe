#pragma once
// parking-station --hash-key: reads an operator's key on standard input
// (without echo on a terminal) and prints its salted hash alone on the
// last line, to paste after "name=" in [Operadores]. Needs no display and
// no configuration.
namespace parking {

// The program's exit status: 0 with the hash printed, 2 for a key that
// cannot be used (said why).
int runHashKey();

} // namespace parking
