/*
 * placeholders.cpp --
 *     Start-up hooks whose units are not in the library yet.  Each one
 *     leaves this file when the unit that owns it arrives.
 */
#include "core/core.h"
#include "core/families.h"

namespace vesk {


}  // namespace vesk
