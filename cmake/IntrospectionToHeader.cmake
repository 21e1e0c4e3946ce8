# Script mode: -DXML=<file> -DMACRO=<name> -DOUT=<header>
file(READ "${XML}" content)
string(FIND "${content}" "<interface " start)
string(FIND "${content}" "</interface>" stop)
if(start EQUAL -1 OR stop EQUAL -1)
  message(FATAL_ERROR "${XML}: no <interface> element")
endif()
math(EXPR length "${stop} + 12 - ${start}")
string(SUBSTRING "${content}" ${start} ${length} interface)
string(REPLACE "\\" "\\\\" interface "${interface}")
string(REPLACE "\"" "\\\"" interface "${interface}")
# One C string per XML line, joined by line continuations inside the macro.
string(REPLACE "\n" "\\n\" \\\n    \"" interface "${interface}")
file(WRITE "${OUT}.tmp"
  "// Generated from ${XML}; do not edit.\n#pragma once\n#define ${MACRO} \\\n    \"${interface}\\n\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.tmp" "${OUT}")
file(REMOVE "${OUT}.tmp")
