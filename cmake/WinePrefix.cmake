# Tests run by wine share one prefix in the build folder, made by a setup test
# before any of them starts (later runs find it made and pass at once). Wine
# starts and stops its own server; a persistent one would outlive ctest.
# Include at the end of a directory's tests: every test added so far gets the
# prefix.
set(VEXB_WINE_ENVIRONMENT
  WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix
  WINEDEBUG=-all
  WINEDLLOVERRIDES=mscoree,mshtml=)
get_property(vexb_wine_tests DIRECTORY PROPERTY TESTS)
add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
set_tests_properties(wine_prefix PROPERTIES
  FIXTURES_SETUP wine ENVIRONMENT "${VEXB_WINE_ENVIRONMENT}")
set_tests_properties(${vexb_wine_tests} PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${VEXB_WINE_ENVIRONMENT}")
