# Reads every deliverable as a Windows loader sees it, prints one table row of
# what it found and fails when a deliverable is not what the host loads:
#   machine      i386, PE32
#   type         characteristics executable image, 32-bit words, DLL
#   export       exactly one, by the undecorated name vexbcppBlockEntryPoint
#   imports      KERNEL32.dll and msvcrt.dll only (the runtime is linked in),
#                among them the loader functions the binding uses
#   names        the service names of its revision: rows 1 to 534, and 535 to
#                545 in revision 2 only
#   bytes        at most 64 KiB: the C++ runtime's exception machinery, which
#                a plug-in never uses, stays out
# The build's table (target pe_report) and the win32 test both run this.
#
#   cmake -DOBJDUMP=... -DMANIFEST=deliverables.tsv -DDIR=bin -DNAMES=service_names.inc
#         -P pe_check.cmake

cmake_minimum_required(VERSION 3.25)
set(max_bytes 65536)
set(required_imports "KERNEL32.dll:GetModuleHandleA" "KERNEL32.dll:GetProcAddress"
                     "msvcrt.dll:malloc" "msvcrt.dll:free")

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

# row(VAR cell width cell width ...): the cells, each padded to its width.
function(row var)
  set(text "")
  while(ARGN)
    list(POP_FRONT ARGN cell width)
    string(LENGTH "${cell}" length)
    set(pad "")
    if(length LESS width)
      math(EXPR missing "${width} - ${length}")
      string(REPEAT " " ${missing} pad)
    endif()
    string(APPEND text "${cell}${pad} ")
  endwhile()
  string(STRIP "${text}" text)
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

row(header deliverable 15 rev 3 signature 13 machine 10 type 14
    export 22 imports 32 names 5 bytes 6)
set(table "${header}")
set(report "")

file(STRINGS ${MANIFEST} rows)
list(POP_FRONT rows)  # header
set(failures 0)
foreach(manifest_row IN LISTS rows)
  string(REPLACE "\t" ";" fields "${manifest_row}")
  list(GET fields 0 deliverable)
  list(GET fields 2 revision)
  list(GET fields 3 signature)
  set(dll ${DIR}/${deliverable}.dll)
  set(problems "")

  execute_process(COMMAND ${OBJDUMP} -f -p ${dll} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    string(APPEND report "\nFAIL ${deliverable}.dll: ${OBJDUMP} cannot read ${dll}")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()

  # Machine and format.
  set(machine "?")
  if(dump MATCHES "architecture: ([^,\n]+)")
    set(machine ${CMAKE_MATCH_1})
  endif()
  if(dump MATCHES "Magic[ \t]+010b[ \t]+\\(PE32\\)")
    string(APPEND machine " PE32")
  endif()
  if(NOT dump MATCHES "file format pei-i386" OR NOT machine STREQUAL "i386 PE32")
    list(APPEND problems "machine ${machine}, not i386 PE32")
  endif()

  # Characteristics: 0x0002 executable image, 0x0100 32-bit words, 0x2000 DLL.
  set(type "")
  set(characteristics 0)
  if(dump MATCHES "\nCharacteristics (0x[0-9a-f]+)\n")
    math(EXPR characteristics "${CMAKE_MATCH_1}")
  endif()
  foreach(flag "2;image" "256;32-bit" "8192;DLL")
    list(GET flag 0 bit)
    list(GET flag 1 what)
    math(EXPR set_bit "${characteristics} & ${bit}")
    if(set_bit)
      list(APPEND type ${what})
    else()
      list(APPEND problems "characteristics lack ${what}")
    endif()
  endforeach()
  list(JOIN type " " type)

  # The export table: its entry count, and its name entries, the lines
  # "\t[   k] NAME" of the name pointer table.
  set(export_count 0)
  if(dump MATCHES "Number in:\n\tExport Address Table[ \t]+([0-9a-f]+)\n")
    math(EXPR export_count "0x${CMAKE_MATCH_1}")
  endif()
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t\\[ *[0-9]+\\] [^\n]+\n)*" export_table "${dump}")
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" export_names "${export_table}")
  list(TRANSFORM export_names REPLACE "^\t\\[ *[0-9]+\\] " "")
  list(JOIN export_names "," export)
  if(NOT export_count EQUAL 1 OR NOT export STREQUAL "vexbcppBlockEntryPoint")
    list(APPEND problems "exports ${export_count} entries [${export}] instead of vexbcppBlockEntryPoint alone")
  endif()

  # The import table: each DLL and the functions taken from it.
  string(REGEX MATCHALL "DLL Name: [^\n]+\n\tvma:[^\n]*\n(\t[0-9a-f]+\t[^\n]*\n)*" blocks "${dump}")
  set(imports "")
  set(imported "")
  foreach(block IN LISTS blocks)
    string(REGEX MATCH "^DLL Name: ([^\n]+)" _ "${block}")
    set(library ${CMAKE_MATCH_1})
    string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+ +[A-Za-z0-9_]+" functions "${block}")
    list(TRANSFORM functions REPLACE "^\n\t[0-9a-f]+\t +[0-9]+ +" "${library}:")
    list(APPEND imported ${functions})
    list(LENGTH functions function_count)
    list(APPEND imports "${library}(${function_count})")
    if(NOT library MATCHES "^(KERNEL32|msvcrt)\\.dll$")
      list(APPEND problems "imports from ${library}")
    endif()
  endforeach()
  foreach(function IN LISTS required_imports)
    if(NOT function IN_LIST imported)
      list(APPEND problems "does not import ${function}")
    endif()
  endforeach()
  list(JOIN imports " " imports)

  # The service names the library carries.
  file(STRINGS ${dll} texts REGEX "^vex[A-Za-z]+$")
  set(index 0)
  set(carried 0)
  foreach(name IN LISTS names)
    math(EXPR index "${index} + 1")
    list(FIND texts ${name} found)
    if(NOT found EQUAL -1)
      math(EXPR carried "${carried} + 1")
    endif()
    if(index LESS_EQUAL 534 OR revision EQUAL 2)
      if(found EQUAL -1)
        list(APPEND problems "lacks service name ${index} ${name}")
      endif()
    elseif(NOT found EQUAL -1)
      list(APPEND problems "carries revision-2 name ${index} ${name}")
    endif()
  endforeach()

  file(SIZE ${dll} bytes)
  if(bytes GREATER max_bytes)
    list(APPEND problems "${bytes} bytes, more than ${max_bytes}")
  endif()

  row(line ${deliverable} 15 ${revision} 3 ${signature} 13 "${machine}" 10 "${type}" 14
      "${export}" 22 "${imports}" 32 ${carried} 5 ${bytes} 6)
  string(APPEND table "\n${line}")
  if(problems)
    math(EXPR failures "${failures} + 1")
    list(JOIN problems "\n    " text)
    string(APPEND report "\nFAIL ${deliverable}.dll\n    ${text}")
  endif()
endforeach()

message("${table}${report}")
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} deliverable(s) failed the PE check")
endif()
