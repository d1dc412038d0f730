# The release zip holds what it says: every deliverable of the build as
# built, README.txt, a manifest that agrees with the build and with the
# files, and SHA256SUMS that `sha256sum -c` accepts.
#   cmake -DZIP=... -DMANIFEST=deliverables.tsv -DDIR=bin -DWORK=folder
#         -P release_contents.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK}
  COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(name ${ZIP} NAME)
string(REGEX REPLACE "\\.zip$" "" name "${name}")
set(folder ${WORK}/${name})

set(problems "")
execute_process(COMMAND sha256sum --check --strict --quiet SHA256SUMS WORKING_DIRECTORY ${folder}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  list(APPEND problems "sha256sum -c SHA256SUMS: ${out}")
endif()

# Each deliverable: its row of the release manifest, from the build's row,
# the PE check's service name count for its revision, and the file itself.
file(STRINGS ${folder}/manifest.tsv released)
list(POP_FRONT released header)
if(NOT header STREQUAL "deliverable\tmodel\trevision\tsignature\tnames\tbytes\tsha256")
  list(APPEND problems "manifest.tsv header: ${header}")
endif()
file(STRINGS ${MANIFEST} built)
list(POP_FRONT built)
set(expected_files README.txt SHA256SUMS manifest.tsv)
foreach(row IN LISTS built)
  string(REPLACE "\t" ";" cells "${row}")
  list(GET cells 0 deliverable)
  list(GET cells 2 revision)
  list(SUBLIST cells 0 4 identity)
  list(JOIN identity "\t" identity)
  set(dll ${folder}/${deliverable}.dll)
  list(APPEND expected_files ${deliverable}.dll)
  if(NOT EXISTS ${dll})
    list(APPEND problems "no ${deliverable}.dll")
    continue()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${dll} ${DIR}/${deliverable}.dll
    RESULT_VARIABLE different)
  if(different)
    list(APPEND problems "${deliverable}.dll is not the one built")
  endif()
  set(names 545)
  if(revision EQUAL 1)
    set(names 534)
  endif()
  file(SIZE ${dll} bytes)
  file(SHA256 ${dll} sha256)
  set(want "${identity}\t${names}\t${bytes}\t${sha256}")
  list(FIND released "${want}" found)
  if(found EQUAL -1)
    list(APPEND problems "manifest.tsv has no row ${want}")
  endif()
endforeach()

file(GLOB files RELATIVE ${folder} ${folder}/*)
list(SORT files)
list(SORT expected_files)
if(NOT files STREQUAL expected_files)
  list(APPEND problems "the zip holds ${files}, not ${expected_files}")
endif()

if(problems)
  list(JOIN problems "\n" text)
  message(FATAL_ERROR "${ZIP}:\n${text}")
endif()
