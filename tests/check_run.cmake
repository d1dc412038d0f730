# One `blockhost check` run through the build's emulator, judged by its JSON
# report (tests/check_report.cmake). Lists are given with | between items.
#   cmake -DEMULATOR=... -DBLOCKHOST=... -DWORKDIR=... -DREPORT=... -DARGS=a|b
#         -DFAILS=... -DMUST_PASS=... -DDELIVERABLES=... -P check_run.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/check_report.cmake)
foreach(list EMULATOR ARGS FAILS MUST_PASS DELIVERABLES)
  string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()
vexb_run_check(LABEL "blockhost check" COMMAND ${EMULATOR} ${BLOCKHOST} check ${ARGS}
  WORKDIR ${WORKDIR} REPORT ${REPORT} FAILS ${FAILS} MUST_PASS ${MUST_PASS} DELIVERABLES ${DELIVERABLES})
