// A fault written on one line, for tulk-camsim's --fault:
//
//   SPEC := KIND {"," KEY "=" VALUE}
//
// KIND is a fault's name (stall-mid-transfer, garble-packet, garble-always,
// no-checksum, lose-answer, ignore-command, restart, vanish). The keys:
// at=N (the first occasion it fires on, from 1; default 1), every=M (again
// every M occasions after; default: only once), for=DURATION (how long a
// stall lasts, a number with ms or s; default 30s) and action=snapshot|erase
// (which command lose-answer and ignore-command wait for; default snapshot).
// A key that means nothing to the kind is refused, so that a mistyped test
// does not quietly test something else.
#pragma once

#include <string>

#include "sim/camsim.h"

namespace camsim {

// False, with a reason in error, when spec does not follow the syntax.
bool parseFaultSpec(const std::string& spec, Fault& fault, std::string& error);

}  // namespace camsim
