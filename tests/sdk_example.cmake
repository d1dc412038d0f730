# The example block (examples/clamp) built as its author builds it: this
# build's SDK installed into a fresh prefix, the example found against it
# with find_package, natively or with the SDK's own toolchain file.
#   cmake -DBUILD=this-build -DSOURCE=checkout -DWORK=folder -DGENERATOR=...
#         [-DTOOLCHAIN=toolchain-file-name -DOBJDUMP=... -DWINDRES=...]
#         -P sdk_example.cmake
#
# WORK/sdk is the prefix, WORK/build the example's build. Natively the
# example's own ctest must pass (blockhost check of its plug-in), its values
# are run through the installed blockhost, and the example is built once more
# with the SDK taken from this checkout through FetchContent. With TOOLCHAIN
# the DLL, left as WORK/build/clamp.dll, goes through the deliverables' PE
# check.

# run(command...): runs it, stops the test when it fails.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}: status ${result}\n${out}")
  endif()
endfunction()

# build(folder options...): configures and builds the example there.
function(build folder)
  run(${CMAKE_COMMAND} -G ${GENERATOR} -S ${SOURCE}/examples/clamp -B ${folder}
      -DCMAKE_BUILD_TYPE=Release ${ARGN})
  run(${CMAKE_COMMAND} --build ${folder})
endfunction()

file(REMOVE_RECURSE ${WORK})
set(sdk ${WORK}/sdk)
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${sdk})
set(package ${sdk}/lib/cmake/vexblocks)

if(TOOLCHAIN)
  build(${WORK}/build --toolchain ${package}/${TOOLCHAIN} -DCMAKE_PREFIX_PATH=${sdk})
  run(${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -DWINDRES=${WINDRES}
      -DMANIFEST=${WORK}/build/deliverables.tsv -DDIR=${WORK}/build
      -DNAMES=${sdk}/include/vexblocks/service_names.inc
      -P ${SOURCE}/tests/pe_check.cmake)
  return()
endif()

build(${WORK}/build -DCMAKE_PREFIX_PATH=${sdk})
run(${CMAKE_CTEST_COMMAND} --test-dir ${WORK}/build --output-on-failure)

# The same example with the SDK from this checkout: find_package redirected
# to FetchContent, which builds the checkout as a subproject.
file(WRITE ${WORK}/fetch.cmake "include(FetchContent)
FetchContent_Declare(vexblocks SOURCE_DIR ${SOURCE} OVERRIDE_FIND_PACKAGE)
")
build(${WORK}/fetch -DCMAKE_PROJECT_TOP_LEVEL_INCLUDES=${WORK}/fetch.cmake)
run(${CMAKE_CTEST_COMMAND} --test-dir ${WORK}/fetch --output-on-failure)

# The clamp's values, bit for bit: blockhost prints each double as the
# shortest text that reads back to the same bits.
#   V2 value   V3 lower   V4 upper   V5 result
set(cases
  "5 0 10 5"           # inside: passes
  "-3 0 10 0"          # below: the lower bound
  "12 0 10 10"         # above: the upper bound
  "5 7 3 3"            # bounds crossed: the upper bound
  "-0 0 10 -0"         # -0 is not below +0: passes with its sign
  "0 -0 -0 0"          # nor +0 above -0
  "nan 0 10 nan"       # a NaN value passes
  "-nan 0 10 -nan"     # with its sign
  "-3 nan 10 -3"       # a NaN lower bound limits nothing
  "12 0 nan 12"        # nor a NaN upper bound
  "-inf -1 inf -1"     # infinite values and bounds
  "5e-324 0 0 0")      # the least subnormal is above 0
foreach(plugin ${WORK}/build/clamp.so ${WORK}/fetch/clamp.so)
  foreach(case IN LISTS cases)
    separate_arguments(values UNIX_COMMAND "${case}")
    list(GET values 0 x)
    list(GET values 1 low)
    list(GET values 2 high)
    execute_process(COMMAND ${sdk}/bin/blockhost run ${plugin} --format csv
                            --set V2=${x} --set V3=${low} --set V4=${high}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    list(JOIN values "," row)
    if(NOT result EQUAL 0 OR NOT out MATCHES "\n1,0,0,${row}\n?$")
      message(SEND_ERROR "${plugin}: clamp(${x}, ${low}, ${high}) should give the row "
                         "1,0,0,${row}; status ${result}\n${out}${err}")
    endif()
  endforeach()
endforeach()

# find_package accepts this SDK (1.0.0) for 1.0 and nothing newer or of
# another major version.
#   requested version | found
set(versions "1.0|1" "1.0.0|1" "1.1|0" "2.0|0" "0.9|0")
foreach(case IN LISTS versions)
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 requested)
  list(GET case 1 expected)
  file(WRITE ${WORK}/version/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(version LANGUAGES CXX)
find_package(vexblocks ${requested} CONFIG)
message(STATUS \"found: \${vexblocks_FOUND}\")
")
  execute_process(COMMAND ${CMAKE_COMMAND} -G ${GENERATOR} -S ${WORK}/version
                          -B ${WORK}/version/build -DCMAKE_PREFIX_PATH=${sdk}
                  OUTPUT_VARIABLE out ERROR_QUIET)
  if(NOT out MATCHES "found: ${expected}\n")
    message(SEND_ERROR "find_package(vexblocks ${requested}) should give found ${expected}:\n${out}")
  endif()
endforeach()
