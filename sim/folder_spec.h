// A folder tree written on one line, for tulk-camsim's --folders:
//
//   SPEC  := [ITEM {"," ITEM}]
//   ITEM  := NAME [":" PICTURES] ["(" ITEM {"," ITEM} ")"]
//
// NAME is any text without ':', ',', '(' or ')', spaces included (a padded
// name such as "DCIM    " is kept as it is). PICTURES is a count, 0 when left
// out. A top-level ITEM without a name gives the root's own pictures, so
// ":4,A(B:3),C:2" is a root with 4 pictures, folder A holding folder B with
// 3, and folder C with 2. An empty SPEC is a camera with folders but only
// the root.
#pragma once

#include <string>

#include "sim/camsim.h"

namespace camsim {

// False, with a reason in error, when spec does not follow the syntax.
bool parseFolderSpec(const std::string& spec, Folder& root, std::string& error);

}  // namespace camsim
