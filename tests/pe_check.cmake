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
#   version      the version resource, read back with windres: FILEVERSION,
#                PRODUCTVERSION and their strings the manifest's version,
#                FILETYPE VFT_DLL, OriginalFilename the file's name, a
#                FileDescription naming the model and the revision, a
#                ProductName
#   flags        DllCharacteristics: ASLR (dynamic base), NX (NX compatible)
#                and noSEH (no SE handler), the last one true of the code: no
#                instruction touches %fs:0, the head of the handler chain
# The build's table (target pe_report) and the win32 test both run this; with
# REPORT the rows go to that file as tab-separated values instead.
#
#   cmake -DOBJDUMP=... -DWINDRES=... -DMANIFEST=deliverables.tsv -DDIR=bin
#         -DNAMES=service_names.inc [-DREPORT=file.tsv] -P pe_check.cmake

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

# row(VAR cell width cell width ...): the cells, each padded to its width,
# into VAR; the same cells separated by tabs into VAR_tsv.
function(row var)
  set(text "")
  set(cells "")
  while(ARGN)
    list(POP_FRONT ARGN cell width)
    list(APPEND cells "${cell}")
    string(LENGTH "${cell}" length)
    set(pad "")
    if(length LESS width)
      math(EXPR missing "${width} - ${length}")
      string(REPEAT " " ${missing} pad)
    endif()
    string(APPEND text "${cell}${pad} ")
  endwhile()
  string(STRIP "${text}" text)
  list(JOIN cells "\t" tsv)
  set(${var} "${text}" PARENT_SCOPE)
  set(${var}_tsv "${tsv}" PARENT_SCOPE)
endfunction()

# require_bits(VAR VALUE bit name bit name ...): the names of the bits set in
# VALUE, into VAR; a bit that is not set is a problem.
macro(require_bits var value)
  set(${var} "")
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs bit what)
    math(EXPR set_bit "${value} & ${bit}")
    if(set_bit)
      list(APPEND ${var} ${what})
    else()
      list(APPEND problems "lacks ${what}")
    endif()
  endwhile()
  list(JOIN ${var} " " ${var})
endmacro()

row(header deliverable 15 rev 3 signature 13 machine 10 type 14
    export 22 imports 32 names 5 bytes 6 version 7 flags 13)
set(table "${header}")
set(tsv "${header_tsv}")
set(report "")

file(STRINGS ${MANIFEST} rows)
list(POP_FRONT rows)  # header
set(failures 0)
foreach(manifest_row IN LISTS rows)
  string(REPLACE "\t" ";" fields "${manifest_row}")
  list(GET fields 0 deliverable)
  list(GET fields 2 revision)
  list(GET fields 3 signature)
  list(GET fields 4 manifest_version)
  list(GET fields 1 class)
  string(REGEX REPLACE "^.*::" "" class "${class}")
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
  set(characteristics 0)
  if(dump MATCHES "\nCharacteristics (0x[0-9a-f]+)\n")
    math(EXPR characteristics "${CMAKE_MATCH_1}")
  endif()
  require_bits(type ${characteristics} 2 image 256 32-bit 8192 DLL)

  # DllCharacteristics: 0x0040 dynamic base, 0x0100 NX compatible, 0x0400 no
  # SE handler. A function that registers an SE handler links it into the
  # chain whose head is at %fs:0; no instruction may touch it.
  set(dll_characteristics 0)
  if(dump MATCHES "\nDllCharacteristics[ \t]+([0-9a-f]+)\n")
    math(EXPR dll_characteristics "0x${CMAKE_MATCH_1}")
  endif()
  require_bits(flags ${dll_characteristics} 64 ASLR 256 NX 1024 noSEH)
  execute_process(COMMAND ${OBJDUMP} -d ${dll} OUTPUT_VARIABLE code RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR code MATCHES "%fs:0x0[,\n]")
    list(APPEND problems "code that touches %fs:0, the SE handler chain (or unreadable code)")
  endif()

  # The version resource, as windres reads it back.
  execute_process(COMMAND ${WINDRES} -i ${dll} -O rc OUTPUT_VARIABLE resource ERROR_VARIABLE resource)
  set(version "?")
  if(resource MATCHES "\n FILEVERSION ([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+)\n")
    set(version "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4}")
  endif()
  string(REGEX MATCHALL "[0-9]+" numbers "${manifest_version}.0.0.0")
  list(SUBLIST numbers 0 4 numbers)
  list(JOIN numbers ", " binary)
  string(REPLACE "." "\\." text_version "${manifest_version}")
  #   what | the line windres prints
  foreach(entry
      "FILEVERSION ${manifest_version}|\n FILEVERSION ${binary}\n"
      "PRODUCTVERSION ${manifest_version}|\n PRODUCTVERSION ${binary}\n"
      "FILETYPE VFT_DLL|\n FILETYPE 0x2\n"
      "FileVersion ${manifest_version}|VALUE \"FileVersion\", \"${text_version}\"\n"
      "ProductVersion ${manifest_version}|VALUE \"ProductVersion\", \"${text_version}\"\n"
      "OriginalFilename ${deliverable}.dll|VALUE \"OriginalFilename\", \"${deliverable}\\.dll\"\n"
      "FileDescription of ${class}, revision ${revision}|VALUE \"FileDescription\", \"[^\"\n]*${class}[^\"\n]* revision ${revision}\"\n"
      "ProductName|VALUE \"ProductName\", \"[^\"\n]+\"\n")
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 what)
    list(GET entry 1 pattern)
    if(NOT resource MATCHES "${pattern}")
      list(APPEND problems "version resource without ${what}")
    endif()
  endforeach()

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
      "${export}" 22 "${imports}" 32 ${carried} 5 ${bytes} 6 ${version} 7 "${flags}" 13)
  string(APPEND table "\n${line}")
  string(APPEND tsv "\n${line_tsv}")
  if(problems)
    math(EXPR failures "${failures} + 1")
    list(JOIN problems "\n    " text)
    string(APPEND report "\nFAIL ${deliverable}.dll\n    ${text}")
  endif()
endforeach()

if(REPORT)
  file(WRITE ${REPORT} "${tsv}\n")
  message("${report}")
else()
  message("${table}${report}")
endif()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} deliverable(s) failed the PE check")
endif()
