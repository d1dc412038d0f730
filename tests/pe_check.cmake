# Reads every deliverable as a Windows loader would see it and checks that it
# is a 32-bit x86 DLL exporting exactly vexbcppBlockEntryPoint, importing only
# from KERNEL32.dll and msvcrt.dll, and carrying its revision's service names.
#
#   cmake -DOBJDUMP=... -DMANIFEST=deliverables.tsv -DDIR=bin -DNAMES=service_names.inc
#         -P pe_check.cmake

file(STRINGS ${NAMES} name_lines REGEX "^VEXB_SERVICE\\(")
set(names "")
foreach(line IN LISTS name_lines)
  string(REGEX REPLACE "^VEXB_SERVICE\\([0-9]+, ([A-Za-z]+)\\)$" "\\1" name "${line}")
  list(APPEND names ${name})
endforeach()
list(LENGTH names name_count)
if(NOT name_count EQUAL 545)
  message(FATAL_ERROR "the service list has ${name_count} names, not 545")
endif()

file(STRINGS ${MANIFEST} rows)
list(POP_FRONT rows)  # header
set(failures 0)
foreach(row IN LISTS rows)
  string(REPLACE "\t" ";" fields "${row}")
  list(GET fields 0 deliverable)
  list(GET fields 2 revision)
  set(dll ${DIR}/${deliverable}.dll)
  set(problems "")

  execute_process(COMMAND ${OBJDUMP} -p ${dll} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "${deliverable}: ${OBJDUMP} cannot read ${dll}")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()

  if(NOT dump MATCHES "file format pei-i386")
    list(APPEND problems "not a PE file for i386")
  endif()
  if(NOT dump MATCHES "Magic[ \t]+010b[ \t]+\\(PE32\\)")
    list(APPEND problems "not PE32")
  endif()
  if(NOT dump MATCHES "Characteristics 0x[0-9a-f]+\n([^\n]+\n)*\tDLL\n")
    list(APPEND problems "not flagged as a DLL")
  endif()

  # The export table: its name entries are the lines "\t[   k] NAME".
  string(REGEX MATCH "The Export Tables.*(\n\n|$)" exports "${dump}")
  string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" export_names "${exports}")
  set(export_list "")
  foreach(entry IN LISTS export_names)
    string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] (\\+base\\[ *[0-9]+\\] [0-9a-f]+ )?" "" entry "${entry}")
    if(NOT entry MATCHES "Export RVA$")
      list(APPEND export_list "${entry}")
    endif()
  endforeach()
  if(NOT export_list STREQUAL "vexbcppBlockEntryPoint")
    list(APPEND problems "exports [${export_list}] instead of vexbcppBlockEntryPoint alone")
  endif()

  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  string(REPLACE "DLL Name: " "" imports "${imports}")
  foreach(import IN LISTS imports)
    if(NOT import MATCHES "^(KERNEL32|msvcrt)\\.dll$")
      list(APPEND problems "imports from ${import}")
    endif()
  endforeach()

  # The service names the library carries: rows 1 to 534 always, 535 to 545
  # in revision 2 only.
  file(STRINGS ${dll} texts REGEX "^vex[A-Za-z]+$")
  set(index 0)
  foreach(name IN LISTS names)
    math(EXPR index "${index} + 1")
    list(FIND texts ${name} found)
    if(index LESS_EQUAL 534 OR revision EQUAL 2)
      if(found EQUAL -1)
        list(APPEND problems "lacks service name ${index} ${name}")
      endif()
    elseif(NOT found EQUAL -1)
      list(APPEND problems "carries revision-2 name ${index} ${name}")
    endif()
  endforeach()

  file(SIZE ${dll} size)
  if(problems)
    math(EXPR failures "${failures} + 1")
    list(JOIN problems "\n    " text)
    message("FAIL ${deliverable}.dll\n    ${text}")
  else()
    message("ok   ${deliverable}.dll  PE32 i386 DLL, export vexbcppBlockEntryPoint, "
            "imports ${imports}, revision ${revision}, ${size} bytes")
  endif()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} deliverable(s) failed the PE check")
endif()
