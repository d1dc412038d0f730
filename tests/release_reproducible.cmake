# The 32-bit Windows deliverables and their release zip, built a second time
# from a copy of the source in another folder and in another build folder,
# are the first build's byte for byte: nothing of where or when they were
# built gets into them.
#   cmake -DSOURCE=checkout -DFIRST=first-build -DZIP=first-build's-zip
#         -DEPOCH=its-entries'-time -DGENERATOR=... -DWORK=folder
#         -P release_reproducible.cmake
#
# WORK/source is the copy (the checkout without its build folders, dist/ and
# .git), WORK/build the second build: the deliverables and the release only,
# with the copy's own toolchain file.

file(REMOVE_RECURSE ${WORK})
file(GLOB entries RELATIVE ${SOURCE} ${SOURCE}/* ${SOURCE}/.[!.]*)
list(REMOVE_ITEM entries build dist .git)
foreach(entry IN LISTS entries)
  file(COPY ${SOURCE}/${entry} DESTINATION ${WORK}/source)
endforeach()

set(second ${WORK}/build)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${EPOCH}
          ${CMAKE_COMMAND} -G ${GENERATOR} -S ${WORK}/source -B ${second}
          --toolchain ${WORK}/source/cmake/toolchain-i686-w64-mingw32.cmake
          -DCMAKE_BUILD_TYPE=Release -DVEXB_BUILD_TESTS=OFF
  COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${second} --target release
  COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)

file(STRINGS ${FIRST}/deliverables.tsv rows)
list(POP_FRONT rows)
list(TRANSFORM rows REPLACE "\t.*" ".dll")
list(TRANSFORM rows PREPEND bin/ OUTPUT_VARIABLE files)
file(RELATIVE_PATH zip ${FIRST} ${ZIP})
list(APPEND files ${zip})
set(different "")
foreach(file IN LISTS files)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${FIRST}/${file} ${second}/${file}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(APPEND different ${file})
  endif()
endforeach()
if(different)
  list(JOIN different "\n  " text)
  message(FATAL_ERROR "built again in ${second}, these differ from ${FIRST}:\n  ${text}")
endif()
