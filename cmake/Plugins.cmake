# The plug-in build, one file for this repository and for the installed SDK.
#
# vexb_add_plugin(<name> MODEL <class> HEADER <file> REVISION <1|2>)
#
#   Builds plug-in <name> from model <class> (its C++ name, namespace included,
#   e.g. vexb::models::PairSplit), declared in <file>, with framework revision
#   1 or 2: <name>.dll on Windows, <name>.so elsewhere, exporting only
#   vexbcppBlockEntryPoint. <file> is looked up relative to the calling
#   CMakeLists.txt's folder, then in the SDK's models folder; it must state the
#   model's kSignature = "{...}". A wrong call stops the configure with a message.
#
#   Everything the plug-in needs to be built as the host requires comes with
#   the target: C++20, no fused multiply-add, SSE2 arithmetic and a realigned
#   stack on 32-bit x86, no exceptions or RTTI, nothing exported but the entry
#   point, and on Windows the runtime linked in, the loader's hardening flags
#   and a version resource (the calling project's name and version). The
#   framework's sources are compiled once per build into the OBJECT library
#   vexb_framework, on first use.
#
#   Each plug-in is recorded in the global property VEXB_DELIVERABLES, in the
#   target properties VEXB_MODEL, VEXB_MODEL_HEADER (the header's full path),
#   VEXB_REVISION and VEXB_SIGNATURE, and as a row of
#   ${CMAKE_BINARY_DIR}/deliverables.tsv (deliverable, model, revision,
#   signature, version).
#
#   With VEXB_CHECK_PLUGINS (on by default where the build can run its
#   plug-ins: natively, or through CMAKE_CROSSCOMPILING_EMULATOR) each plug-in
#   gets a ctest test of its own, check_<name>: `blockhost check` on the built
#   file, which passes when every check does.
#
# vexb_build_plugin(<name> <source>): the library of a plug-in from a source
# that uses VEXB_DEFINE_PLUGIN, built as vexb_add_plugin builds it (tests use
# it for plug-ins that are not models).
#
# vexb_sdk(HEADERS dir MODELS dir SOURCES dir EXPORTS_MAP file [BLOCKHOST
# target]): where the SDK's files are, and the blockhost that checks plug-ins
# (none where the SDK has no blockhost for the build's platform); said once
# per build before any plug-in, by this repository's top level or by the
# installed package. The functions read it back from global properties, never
# from variables of the scope that included this file.

include_guard(GLOBAL)

function(vexb_sdk)
  get_property(known GLOBAL PROPERTY VEXB_SDK_SOURCES SET)
  if(known)
    return()
  endif()
  set(keys HEADERS MODELS SOURCES EXPORTS_MAP BLOCKHOST)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "${keys}" "")
  foreach(key IN LISTS keys)
    set_property(GLOBAL PROPERTY VEXB_SDK_${key} "${arg_${key}}")
  endforeach()

  # What every user of the framework's headers needs, plug-in or host: C++20;
  # every double operation rounded to double as the models require (no fused
  # multiply-add, SSE2 rather than x87 arithmetic on 32-bit x86); and, for
  # clang, more constant-evaluation steps than its default for the service
  # list's compile-time checks (GCC's limit is far higher).
  add_library(vexb_headers INTERFACE)
  target_include_directories(vexb_headers INTERFACE ${arg_HEADERS} ${arg_MODELS})
  target_compile_features(vexb_headers INTERFACE cxx_std_20)
  target_compile_options(vexb_headers INTERFACE -ffp-contract=off
    $<$<CXX_COMPILER_ID:Clang,AppleClang>:-fconstexpr-steps=50000000>)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86|X86)$")
    set_property(GLOBAL PROPERTY VEXB_X86_32 ON)
    target_compile_options(vexb_headers INTERFACE -msse2 -mfpmath=sse)
  endif()

  if(arg_BLOCKHOST AND (NOT CMAKE_CROSSCOMPILING OR CMAKE_CROSSCOMPILING_EMULATOR))
    set(can_run ON)
  else()
    set(can_run OFF)
  endif()
  option(VEXB_CHECK_PLUGINS "Test every plug-in with blockhost check" ${can_run})
endfunction()

# The compile options of plug-in code, the framework's objects included.
function(_vexb_plugin_code target)
  target_link_libraries(${target} PRIVATE vexb_headers)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # A 32-bit Windows caller keeps the stack 4-byte aligned only: every
  # function of a plug-in that needs more (SSE values kept on the stack)
  # realigns its own frame, the entry point and DllMain included, and no other
  # function pays for it. (MinGW's compilers do this by default; the -m32 Linux
  # build needs it said.)
  get_property(x86_32 GLOBAL PROPERTY VEXB_X86_32)
  if(x86_32)
    target_compile_options(${target} PRIVATE -mstackrealign)
  endif()
  set_target_properties(${target} PROPERTIES
    CXX_EXTENSIONS OFF
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

function(vexb_build_plugin name source)
  get_property(sources GLOBAL PROPERTY VEXB_SDK_SOURCES)
  if(NOT sources)
    message(FATAL_ERROR "vexb_build_plugin(${name}): vexb_sdk() was not called")
  endif()
  if(NOT TARGET vexb_framework)
    if(WIN32)
      set(platform ${sources}/platform_win.cpp)
    else()
      set(platform ${sources}/platform_posix.cpp)
    endif()
    add_library(vexb_framework OBJECT
      ${sources}/service_table.cpp ${sources}/library_attach.cpp ${platform})
    _vexb_plugin_code(vexb_framework)
  endif()

  add_library(${name} MODULE ${source} $<TARGET_OBJECTS:vexb_framework>)
  _vexb_plugin_code(${name})
  set_target_properties(${name} PROPERTIES PREFIX "")
  if(WIN32)
    # The runtime goes into the DLL: it may import from Windows DLLs only.
    # The loader may place the image at any address and never executes its
    # data, as hardening scanners expect it to say. A 32-bit image also says
    # that it has no SEH handler, which is true: nothing in it, framework or
    # runtime, registers one in the handler chain at %fs:0, and the PE check
    # reads the code to keep it so.
    set_target_properties(${name} PROPERTIES SUFFIX ".dll")
    target_link_options(${name} PRIVATE
      -static -static-libgcc -static-libstdc++ -s -Wl,--no-insert-timestamp
      -Wl,--dynamicbase -Wl,--nxcompat)
    get_property(x86_32 GLOBAL PROPERTY VEXB_X86_32)
    if(x86_32)
      target_link_options(${name} PRIVATE -Wl,--no-seh)
    endif()
  else()
    get_property(exports_map GLOBAL PROPERTY VEXB_SDK_EXPORTS_MAP)
    set_target_properties(${name} PROPERTIES SUFFIX ".so")
    target_link_options(${name} PRIVATE -Wl,--version-script=${exports_map})
    # Every symbol resolved at link time, except in sanitizer builds
    # (VEXB_SANITIZE set): there the sanitizer runtime lives in the host
    # program and is found at load.
    if(NOT VEXB_SANITIZE)
      target_link_options(${name} PRIVATE -Wl,-z,defs)
    endif()
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${exports_map})
    target_link_libraries(${name} PRIVATE ${CMAKE_DL_LIBS})
  endif()
endfunction()

# The version resource of a Windows plug-in, what an integrator reads in the
# file's properties: FILEVERSION and PRODUCTVERSION from VERSION, the
# description, the file's own name and the project's. Compiled by windres
# (CMAKE_RC_COMPILER) into an object of the DLL, so that the calling project
# needs no RC language of its own.
function(_vexb_version_resource name version description)
  if(NOT CMAKE_RC_COMPILER)
    message(FATAL_ERROR "vexb_add_plugin(${name}): set CMAKE_RC_COMPILER (windres) "
                        "for the DLL's version resource, as the SDK's toolchain files do")
  endif()
  string(REGEX MATCHALL "[0-9]+" numbers "${version}.0.0.0")
  list(SUBLIST numbers 0 4 numbers)
  list(JOIN numbers "," binary)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc.o)
  # 0x40004 is VOS_NT_WINDOWS32, 0x2 VFT_DLL; the strings are U.S. English,
  # Unicode (040904b0).
  file(CONFIGURE OUTPUT ${rc} CONTENT
"1 VERSIONINFO
FILEVERSION ${binary}
PRODUCTVERSION ${binary}
FILEFLAGSMASK 0x3f
FILEFLAGS 0x0
FILEOS 0x40004
FILETYPE 0x2
FILESUBTYPE 0x0
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904b0\"
    BEGIN
      VALUE \"FileDescription\", \"${description}\"
      VALUE \"FileVersion\", \"${version}\"
      VALUE \"InternalName\", \"${name}\"
      VALUE \"OriginalFilename\", \"${name}.dll\"
      VALUE \"ProductName\", \"${PROJECT_NAME}\"
      VALUE \"ProductVersion\", \"${version}\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
" @ONLY)
  add_custom_command(OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} -O coff -i ${rc} -o ${object}
    DEPENDS ${rc} VERBATIM)
  target_sources(${name} PRIVATE ${object})
endfunction()

function(vexb_add_plugin)
  set(form "vexb_add_plugin(<name> MODEL <class> HEADER <file> REVISION <1|2>)")
  set(keywords MODEL HEADER REVISION)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "${keywords}" "")
  set(name "${ARGV0}")
  if(name STREQUAL "" OR name IN_LIST keywords)
    message(FATAL_ERROR "vexb_add_plugin: no plug-in name; the form is ${form}")
  endif()
  set(call "vexb_add_plugin(${name})")
  if(arg_UNPARSED_ARGUMENTS)
    list(JOIN arg_UNPARSED_ARGUMENTS " " unknown)
    message(FATAL_ERROR "${call}: unknown argument(s) ${unknown}; the form is ${form}")
  endif()
  foreach(keyword IN LISTS keywords)
    if(keyword IN_LIST arg_KEYWORDS_MISSING_VALUES)
      message(FATAL_ERROR "${call}: ${keyword} without a value; the form is ${form}")
    elseif(NOT DEFINED arg_${keyword})
      message(FATAL_ERROR "${call}: no ${keyword} given; the form is ${form}")
    endif()
  endforeach()
  if(NOT arg_REVISION MATCHES "^[12]$")
    message(FATAL_ERROR "${call}: REVISION ${arg_REVISION}: the framework has revisions 1 and 2")
  endif()

  # The header, from the calling folder or the SDK's models.
  get_property(models GLOBAL PROPERTY VEXB_SDK_MODELS)
  set(header "")
  foreach(folder ${CMAKE_CURRENT_SOURCE_DIR} ${models})
    if(EXISTS ${folder}/${arg_HEADER} AND NOT IS_DIRECTORY ${folder}/${arg_HEADER})
      get_filename_component(header ${folder}/${arg_HEADER} ABSOLUTE)
      break()
    endif()
  endforeach()
  if(NOT header)
    message(FATAL_ERROR "${call}: HEADER ${arg_HEADER} is found neither in "
                        "${CMAKE_CURRENT_SOURCE_DIR} nor in ${models}")
  endif()

  # The model's signature, as its header states it, for the build's records
  # and the tests: the first kSignature after the model's own name.
  string(REGEX REPLACE "^.*::" "" class "${arg_MODEL}")
  file(READ ${header} text)
  string(REGEX MATCH "(struct|class)[ \t\n]+${class}[^A-Za-z0-9_].*" text "${text}")
  if(NOT text)
    message(FATAL_ERROR "${call}: ${header} declares no struct or class ${class}")
  endif()
  if(NOT text MATCHES "kSignature = \"([^\"]*)\"")
    message(FATAL_ERROR "${call}: ${header} states no signature (kSignature = \"{...}\") for ${class}")
  endif()
  set(signature ${CMAKE_MATCH_1})
  if(NOT signature MATCHES "^{[SD]*}$")
    message(FATAL_ERROR "${call}: ${header} states the signature \"${signature}\"; "
                        "a signature is '{', S and D letters, '}'")
  endif()

  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT
"// Plug-in ${name}: model ${arg_MODEL}, framework revision ${arg_REVISION}.
#include \"plugin.h\"
#include \"${header}\"
VEXB_DEFINE_PLUGIN(${arg_MODEL}, ${arg_REVISION})
" @ONLY)
  vexb_build_plugin(${name} ${source})

  # The plug-in's version is its project's (0.0.0 for a project without one).
  set(version 0.0.0)
  if(PROJECT_VERSION)
    set(version ${PROJECT_VERSION})
  endif()
  if(WIN32)
    _vexb_version_resource(${name} ${version} "${class} block, framework revision ${arg_REVISION}")
  endif()

  # The build's records: the first plug-in of a configure starts the manifest.
  set(manifest ${CMAKE_BINARY_DIR}/deliverables.tsv)
  get_property(recorded GLOBAL PROPERTY VEXB_DELIVERABLES SET)
  if(NOT recorded)
    file(WRITE ${manifest} "deliverable\tmodel\trevision\tsignature\tversion\n")
    set_property(GLOBAL PROPERTY VEXB_DELIVERABLES "")
  endif()
  file(APPEND ${manifest} "${name}\t${arg_MODEL}\t${arg_REVISION}\t${signature}\t${version}\n")
  set_property(GLOBAL APPEND PROPERTY VEXB_DELIVERABLES ${name})
  set_target_properties(${name} PROPERTIES
    VEXB_MODEL ${arg_MODEL}
    VEXB_MODEL_HEADER ${header}
    VEXB_REVISION ${arg_REVISION}
    VEXB_SIGNATURE ${signature})

  if(VEXB_CHECK_PLUGINS)
    get_property(blockhost GLOBAL PROPERTY VEXB_SDK_BLOCKHOST)
    if(NOT blockhost)
      message(FATAL_ERROR "${call}: VEXB_CHECK_PLUGINS is on, but this SDK has no "
                          "blockhost for ${CMAKE_SYSTEM_NAME} with ${CMAKE_SIZEOF_VOID_P}-byte "
                          "pointers; turn it off, or use an SDK installed from such a build")
    endif()
    set(emulator "")
    if(CMAKE_CROSSCOMPILING)
      set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
    endif()
    # Testing on in the calling folder, as a project's own enable_testing()
    # would put it: at folder scope, once the folder's code has run.
    cmake_language(DEFER CALL enable_testing)
    add_test(NAME check_${name}
      COMMAND ${emulator} $<TARGET_FILE:${blockhost}> check $<TARGET_FILE:${name}>)
  endif()
endfunction()
