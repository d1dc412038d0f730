# The shipped 32-bit DLLs under the 32-bit Windows loader: wine's 32-bit
# programs, which this machine runs under qemu-i386 (registered as the binfmt
# handler of 32-bit x86 programs), in a 64-bit prefix, whose own service
# processes are native 64-bit ones. Two runs of blockhost.exe in one wine
# session, each loading every DLL:
#   - blockhost.exe, a host that exports all 545 services: every check of
#     every deliverable (threads aside: 32-bit wine cannot start a second
#     thread under qemu-user), with the models against the reference runs,
#     and the test plug-ins that must fail;
#   - blockhost_rows_1_to_534.exe, a host that exports rows 1 to 534 only:
#     revision 1 binds completely, revision 2 reports the incompatible host,
#     at every load.
# Then the session ends: no wine process outlives the stage.
#   cmake -DBIN=... -DPREFIX=... -DREFERENCES=... -DDELIVERABLES=a|b -DREVISION2=a|b
#         -DFAILS=... -DMUST_PASS=... -DPLUGINS=a|b -P wine32_stage.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/check_report.cmake)
foreach(list DELIVERABLES REVISION2 FAILS MUST_PASS PLUGINS)
  string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()
set(wine /usr/lib/wine/wine)
set(wine64 /usr/lib/wine/wine64)
set(wineserver /usr/lib/wine/wineserver)
set(ENV{WINEPREFIX} ${PREFIX})
set(ENV{WINEDEBUG} -all)
# No .NET, no HTML engine, no desktop menu entries: a console host needs none.
set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=;winemenubuilder.exe=d")

# What the stage needs of the machine; it fails, never skips, without it.
foreach(program ${wine} ${wine64})
  if(NOT EXISTS ${program})
    message(FATAL_ERROR "${program} is missing: the stage needs Debian's wine32:i386 and wine64 "
                        "(scripts/test installs them)")
  endif()
endforeach()
execute_process(COMMAND ${wine} --version RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "this machine cannot start 32-bit x86 programs (${wine} --version answered "
                      "${status}): no qemu-i386 binfmt handler is registered, and the stage cannot run "
                      "without one. scripts/test registers it as root (vexb_register_qemu_i386 in "
                      "scripts/packages.sh); a machine that refuses the registration cannot run this stage.")
endif()

string(TIMESTAMP start "%s")
set(prefix_seconds 0)
if(NOT EXISTS ${PREFIX}/system.reg)
  execute_process(COMMAND ${wine64} wineboot --init OUTPUT_FILE ${PREFIX}.log ERROR_FILE ${PREFIX}.log
    RESULT_VARIABLE status)
  execute_process(COMMAND ${wineserver} -w)
  string(TIMESTAMP made "%s")
  math(EXPR prefix_seconds "${made} - ${start}")
  if(NOT status EQUAL 0 OR NOT EXISTS ${PREFIX}/system.reg)
    message(FATAL_ERROR "the wine prefix ${PREFIX} could not be made (status ${status}; see ${PREFIX}.log)")
  endif()
endif()

string(TIMESTAMP runs "%s")
file(RELATIVE_PATH references ${BIN} ${REFERENCES})
vexb_run_check(LABEL "blockhost.exe, all 545 services"
  COMMAND ${wine} blockhost.exe check . ${PLUGINS} --skip threads --references ${references}
  WORKDIR ${BIN} REPORT ${BIN}/wine32_check.json
  FAILS ${FAILS} MUST_PASS ${MUST_PASS} DELIVERABLES ${DELIVERABLES})

set(incompatible "")
foreach(name IN LISTS REVISION2)
  list(APPEND incompatible "${name}:binding:reported an incompatible host")
endforeach()
vexb_run_check(LABEL "blockhost_rows_1_to_534.exe, services 1 to 534"
  COMMAND ${wine} blockhost_rows_1_to_534.exe check . --only binding,load-cycles
  WORKDIR ${BIN} REPORT ${BIN}/wine32_check_534.json
  FAILS ${incompatible} MUST_PASS load-cycles DELIVERABLES ${DELIVERABLES})
execute_process(COMMAND ${wineserver} -w)
string(TIMESTAMP end "%s")
math(EXPR run_seconds "${end} - ${runs}")
message(STATUS "wine32 stage: prefix ${prefix_seconds} s (0: made before), both runs and the end of the "
               "session ${run_seconds} s")
