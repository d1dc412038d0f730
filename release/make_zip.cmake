# The release zip of the 32-bit Windows deliverables, made the same, byte for
# byte, from the same DLLs wherever and by whomever it is built.
#   cmake -DNAME=vexblocks-<version>-win32 -DVERSION=... -DMANIFEST=deliverables.tsv
#         -DCHECKED=pe_check.tsv -DHEADERS=headers.tsv -DDIR=bin -DTEXT=README.txt.in
#         -DSTAGE=folder -DZIP=file.zip -DEPOCH=seconds -P make_zip.cmake
#
# NAME/ in the zip holds README.txt (for integrators, from TEXT), manifest.tsv
# (deliverable, model, revision, signature, service names, bytes, SHA-256),
# SHA256SUMS of those files and the DLLs, then the DLLs in the manifest's
# order. CHECKED is the PE check's report (its service name counts), HEADERS
# names each deliverable's model header, whose first sentence says what the
# DLL computes.
#
# What would make two builds differ is fixed: every entry's time is EPOCH
# (SOURCE_DATE_EPOCH, or 1980-01-01, the earliest a zip holds), written in
# UTC; every file is mode 0644; the order is the one above; and zip -X leaves
# out the extra fields that carry owners and access times.

# tsv(VAR FILE KEY_COLUMN VALUE_COLUMN): for each row, VAR_<key> = value.
macro(tsv var file key value)
  file(STRINGS ${file} lines)
  list(POP_FRONT lines header)
  string(REPLACE "\t" ";" header "${header}")
  list(FIND header ${key} key_index)
  list(FIND header ${value} value_index)
  foreach(line IN LISTS lines)
    string(REPLACE "\t" ";" cells "${line}")
    list(GET cells ${key_index} k)
    list(GET cells ${value_index} v)
    set(${var}_${k} "${v}")
  endforeach()
endmacro()
# wrap(VAR TEXT): TEXT in lines of at most 78 characters, indented by two.
function(wrap var text)
  set(lines "")
  string(LENGTH "${text}" length)
  while(length GREATER 76)
    string(SUBSTRING "${text}" 0 77 head)
    string(FIND "${head}" " " cut REVERSE)
    if(cut LESS 1)
      break()
    endif()
    string(SUBSTRING "${text}" 0 ${cut} line)
    string(APPEND lines "  ${line}\n")
    math(EXPR cut "${cut} + 1")
    string(SUBSTRING "${text}" ${cut} -1 text)
    string(LENGTH "${text}" length)
  endwhile()
  set(${var} "${lines}  ${text}\n" PARENT_SCOPE)
endfunction()

tsv(names ${CHECKED} deliverable names)
tsv(header ${HEADERS} deliverable header)

set(folder ${STAGE}/${NAME})
file(REMOVE_RECURSE ${folder})
file(MAKE_DIRECTORY ${folder})

file(STRINGS ${MANIFEST} rows)
list(POP_FRONT rows)
set(manifest "deliverable\tmodel\trevision\tsignature\tnames\tbytes\tsha256\n")
set(DLLS "")
set(files "")
foreach(row IN LISTS rows)
  string(REPLACE "\t" ";" cells "${row}")
  list(GET cells 0 deliverable)
  list(GET cells 1 model)
  list(GET cells 2 revision)
  list(GET cells 3 signature)
  set(dll ${deliverable}.dll)
  file(COPY_FILE ${DIR}/${dll} ${folder}/${dll})
  file(SIZE ${folder}/${dll} bytes)
  file(SHA256 ${folder}/${dll} sha256)
  string(APPEND manifest "${deliverable}\t${model}\t${revision}\t${signature}\t${names_${deliverable}}\t${bytes}\t${sha256}\n")
  list(APPEND files ${dll})

  # What the DLL computes: the first sentence of its model's header comment.
  file(STRINGS ${header_${deliverable}} comment REGEX "^//")
  set(sentence "")
  foreach(line IN LISTS comment)
    string(REGEX REPLACE "^// ?" "" line "${line}")
    if(line STREQUAL "")
      break()
    endif()
    string(APPEND sentence " ${line}")
  endforeach()
  string(REGEX REPLACE "^ ([^.]*(\\.[^ ][^.]*)*\\.)( .*)?$" "\\1" sentence "${sentence}")
  wrap(sentence "${sentence}")
  string(REGEX REPLACE "^.*::" "" class "${model}")
  string(APPEND DLLS "${dll}: ${class}, revision ${revision}, signature ${signature}\n${sentence}")
endforeach()
file(WRITE ${folder}/manifest.tsv "${manifest}")
configure_file(${TEXT} ${folder}/README.txt @ONLY)
list(PREPEND files README.txt manifest.tsv)

set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${folder}/${file} sha256)
  string(APPEND sums "${sha256}  ${file}\n")
endforeach()
file(WRITE ${folder}/SHA256SUMS "${sums}")
list(INSERT files 2 SHA256SUMS)

list(TRANSFORM files PREPEND ${NAME}/ OUTPUT_VARIABLE entries)
list(TRANSFORM files PREPEND ${folder}/)
file(CHMOD ${files} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(COMMAND touch -d @${EPOCH} ${files} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${ZIP})
get_filename_component(zip_folder ${ZIP} DIRECTORY)
file(MAKE_DIRECTORY ${zip_folder})
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0 zip -q -X -D ${ZIP} ${entries}
  WORKING_DIRECTORY ${STAGE} COMMAND_ERROR_IS_FATAL ANY)
