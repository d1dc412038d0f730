# blockhost against the DLLs of a Windows build, run through its emulator:
# each case is the exit status, the arguments and a pattern that standard
# output and standard error together must match.
#   cmake -DEMULATOR=... -DBLOCKHOST=... -DDIR=... -P blockhost_cases.cmake
set(cases
  "0|shape pairsplit_r2.dll|{SSDDDDDDDDD}.*binding: fetched the huge value"
  "0|check pairsplit_r1.dll|PASS  fp-pending .*PASS  pairsplit_r1.dll: [0-9]+ of [0-9]+ checks passed"
  "0|check remainder_r2.dll|revision 2:.*PASS  remainder_r2.dll: [0-9]+ of [0-9]+ checks passed"
  "0|--version|^blockhost [0-9]+\\.[0-9]+"
  "0|run pairsplit_r2.dll --format csv --set V2=10 --set V3=-0 --set V6=5 --set V4=8 --set V5=0x0p0 --set V7=3|\n1,0,0,10,-0,8,0,-0,0,8,5,3\r?\n"
  "3|run missing.dll|missing.dll: no such file"
  "4|run blockhost_cases.txt|cannot be loaded"
  "6|run pairsplit_r2.dll --signature {SSDD}|refuses the signature {SSDD}"
  "7|run pairsplit_r2.dll --set V2=0x1.8q1|'0x1.8q1' is not a number"
  "8|run pairsplit_r2.dll --set V0=1|V0: a signal")
file(WRITE ${DIR}/blockhost_cases.txt "not a library\n")
set(failed 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 status)
  list(GET parts 1 arguments)
  list(GET parts 2 pattern)
  separate_arguments(arguments UNIX_COMMAND "${arguments}")
  execute_process(COMMAND ${EMULATOR} ${BLOCKHOST} ${arguments} WORKING_DIRECTORY ${DIR}
    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result STREQUAL status OR NOT "${out}${err}" MATCHES "${pattern}")
    message(SEND_ERROR "blockhost ${arguments}: status ${result} (want ${status})\n${out}${err}")
    set(failed 1)
  endif()
endforeach()
if(NOT failed)
  list(LENGTH cases count)
  message(STATUS "${count} blockhost cases passed")
endif()
