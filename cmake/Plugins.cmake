# vexb_add_plugin(NAME MODEL HEADER REVISION)
#
# Builds deliverable NAME from model class vexb::models::MODEL (declared in
# models/HEADER) and framework revision REVISION: NAME.dll on Windows, NAME.so
# elsewhere, exporting only vexbcppBlockEntryPoint. Each deliverable is
# recorded in VEXB_DELIVERABLES and in the build folder's deliverables.tsv.

set(VEXB_PLUGIN_COMPILE_OPTIONS -fno-exceptions -fno-rtti)
# A 32-bit Windows caller keeps the stack 4-byte aligned only: every function
# of a plug-in that needs more (SSE values kept on the stack) realigns its own
# frame, the entry point and DllMain included, and no other function pays for
# it. (MinGW's compilers do this by default; the -m32 Linux build needs it
# said.)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  list(APPEND VEXB_PLUGIN_COMPILE_OPTIONS -mstackrealign)
endif()
set(VEXB_MANIFEST ${PROJECT_BINARY_DIR}/deliverables.tsv)
file(WRITE ${VEXB_MANIFEST} "deliverable\tmodel\trevision\tsignature\n")
set_property(GLOBAL PROPERTY VEXB_DELIVERABLES "")

# vexb_build_plugin(NAME SOURCE): the library of a plug-in from a source that
# uses VEXB_DEFINE_PLUGIN, built as every deliverable is built. Test plug-ins
# use it directly; they are not deliverables.
function(vexb_build_plugin name source)
  add_library(${name} MODULE ${source} $<TARGET_OBJECTS:vexb_framework>)
  target_link_libraries(${name} PRIVATE vexb_headers)
  target_compile_options(${name} PRIVATE ${VEXB_PLUGIN_COMPILE_OPTIONS})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    # The runtime goes into the DLL: it may import from Windows DLLs only.
    set_target_properties(${name} PROPERTIES SUFFIX ".dll")
    target_link_options(${name} PRIVATE
      -static -static-libgcc -static-libstdc++ -s -Wl,--no-insert-timestamp)
  else()
    set_target_properties(${name} PROPERTIES SUFFIX ".so")
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/plugins/exports.map)
    # Every symbol resolved at link time, except in sanitizer builds: there the
    # sanitizer runtime lives in the host program and is found at load.
    if(NOT VEXB_SANITIZE)
      target_link_options(${name} PRIVATE -Wl,-z,defs)
    endif()
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS
      ${PROJECT_SOURCE_DIR}/plugins/exports.map)
    target_link_libraries(${name} PRIVATE ${CMAKE_DL_LIBS})
  endif()
endfunction()

function(vexb_add_plugin name model header revision)
  # The signature, as the model states it, for the build table and the tests.
  file(READ ${PROJECT_SOURCE_DIR}/models/${header} model_text)
  if(NOT model_text MATCHES "kSignature = \"([^\"]+)\"")
    message(FATAL_ERROR "models/${header} states no kSignature")
  endif()
  set(signature ${CMAKE_MATCH_1})

  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT
"// Deliverable ${name}: model ${model}, framework revision ${revision}.
#include \"plugin.h\"
#include \"${header}\"
VEXB_DEFINE_PLUGIN(vexb::models::${model}, ${revision})
" @ONLY)

  vexb_build_plugin(${name} ${source})

  file(APPEND ${VEXB_MANIFEST} "${name}\t${model}\t${revision}\t${signature}\n")
  set_property(GLOBAL APPEND PROPERTY VEXB_DELIVERABLES ${name})
  set_property(TARGET ${name} PROPERTY VEXB_REVISION ${revision})
  set_property(TARGET ${name} PROPERTY VEXB_SIGNATURE ${signature})
  set_property(TARGET ${name} PROPERTY VEXB_MODEL ${model})
  set_property(TARGET ${name} PROPERTY VEXB_MODEL_HEADER ${header})
endfunction()

# The 32-bit Windows deliverables read as files, as the host's loader sees
# them (tests/pe_check.cmake): the target pe_report prints the table, and the
# win32 test runs the same reading.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VEXB_PE_REPORT ${CMAKE_COMMAND}
    -DOBJDUMP=${VEXB_OBJDUMP}
    -DMANIFEST=${VEXB_MANIFEST}
    -DDIR=${CMAKE_LIBRARY_OUTPUT_DIRECTORY}
    -DNAMES=${PROJECT_SOURCE_DIR}/framework/service_names.inc
    -P ${PROJECT_SOURCE_DIR}/tests/pe_check.cmake)
endif()
