// Script libraries: the header and the whole decoder over the bytes.
#include <string>

#include "core/calc.h"
#include "fuzz/fuzz.h"

FUZZ_TARGET(scriptlib) {
  vesk::ScriptLibHeader header;
  vesk::parseScriptLibHeader(data, size, header);
  std::string script;
  int zlibCode = 0;
  vesk::decodeScriptLib(data, size, script, &zlibCode);
  return 0;
}
