# vexb_add_plugin as a plug-in project calls it: a small project that builds
# this checkout as a subproject and makes one call, configured once per case.
# A right call configures and records its row in deliverables.tsv (the header
# found in the calling folder before the SDK's models); a wrong one stops the
# configure with its message.
#   cmake -DSOURCE=checkout -DWORK=folder -DGENERATOR=... -P plugin_refusals.cmake
#
#   outcome | call | pattern of the manifest row (ok) or the message (fails)
set(remainder "MODEL vexb::models::Remainder HEADER remainder.h")
set(cases
  "ok|p ${remainder} REVISION 2|\np\tvexb::models::Remainder\t2\t{SSDDDD}\t0.0.0\n"
  "ok|p MODEL local::Balance HEADER balance.h REVISION 1|\np\tlocal::Balance\t1\t{SSD}\t0.0.0\n"
  "fails|p ${remainder} REVISION 2 COLOR red|vexb_add_plugin.p.: unknown argument.s. COLOR red"
  "fails|p MODEL vexb::models::Remainder REVISION 2|no HEADER given"
  "fails|p MODEL vexb::models::Remainder HEADER REVISION 2|HEADER without a value"
  "fails|p ${remainder}|no REVISION given"
  "fails|p ${remainder} REVISION 3|REVISION 3: the framework has revisions 1 and 2"
  "fails|p MODEL local::Balance HEADER missing.h REVISION 1|HEADER missing.h is found neither in"
  "fails|p MODEL local::Plain HEADER plain.h REVISION 1|plain.h states no signature"
  "fails|p MODEL local::Bad HEADER bad.h REVISION 1|bad.h states the signature \"{SSX}\""
  "fails|p MODEL vexb::models::Nothing HEADER remainder.h REVISION 1|remainder.h declares no struct or class Nothing"
  "fails|${remainder} REVISION 2|vexb_add_plugin: no plug-in name")

set(project ${WORK}/project)
file(REMOVE_RECURSE ${WORK})
file(WRITE ${project}/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(refusals LANGUAGES CXX)
add_subdirectory(${SOURCE} vexblocks)
include(call.cmake)
")
# balance.h shadows the SDK's model of that name.
file(WRITE ${project}/balance.h
  "namespace local { struct Balance { static constexpr vexb::FixedString kSignature = \"{SSD}\"; }; }\n")
file(WRITE ${project}/plain.h "namespace local { struct Plain {}; }\n")
file(WRITE ${project}/bad.h
  "namespace local { struct Bad { static constexpr vexb::FixedString kSignature = \"{SSX}\"; }; }\n")

set(failed 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 outcome)
  list(GET parts 1 arguments)
  list(GET parts 2 pattern)
  file(WRITE ${project}/call.cmake "vexb_add_plugin(${arguments})\n")
  file(REMOVE ${WORK}/build/deliverables.tsv)
  execute_process(COMMAND ${CMAKE_COMMAND} -G ${GENERATOR} -S ${project} -B ${WORK}/build
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE err)
  # CMake wraps a message's lines; compare its words.
  string(REGEX REPLACE "[ \t\n]+" " " err "${err}")
  set(seen "${err}")
  set(got fails)
  if(result EQUAL 0)
    set(got ok)
    file(READ ${WORK}/build/deliverables.tsv seen)
  endif()
  if(NOT got STREQUAL outcome OR NOT "${seen}" MATCHES "${pattern}")
    message(SEND_ERROR "vexb_add_plugin(${arguments}): wanted '${outcome}', matching '${pattern}'; "
                       "configure status ${result}:\n${seen}")
    set(failed 1)
  endif()
endforeach()
if(NOT failed)
  message(STATUS "every call of vexb_add_plugin configured as expected")
endif()
