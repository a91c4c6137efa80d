# Running the Windows tests through Wine, in a Wine prefix of the build's own
# (never the user's ~/.wine), with a persistent wineserver between the setup
# and cleanup fixtures: Wine starts in a tenth of a second instead of one, and
# the volatile registry keys a test writes (HKLM\HARDWARE) live until the
# tests that read them have run.
set(VARDEL_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "Wine prefix of the Windows tests")
# An X display of the tests' own for the window (Xvfb).
set(VARDEL_WINE_DISPLAY ":61" CACHE STRING "X display the Windows window tests start Xvfb on")

# A 64-bit prefix in both trees: the 32-bit programs run in it as on a
# 64-bit Windows (WOW64), and its set-up fails at once, saying why, when this
# machine's Wine cannot run them.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_vardel_wine_bits 32)
else()
  set(_vardel_wine_bits 64)
endif()
set(VARDEL_WINE_ENV
  "WINEPREFIX=${VARDEL_WINEPREFIX}"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree,mshtml="
  "WINEARCH=win64"
  "VARDEL_WINE_BITS=${_vardel_wine_bits}"
  "DISPLAY=${VARDEL_WINE_DISPLAY}")

# The display comes up with the prefix: Wine's desktop keeps the display its
# first program found.
add_test(NAME wine_up COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix up ${VARDEL_WINE_DISPLAY})
add_test(NAME wine_down COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-prefix down ${VARDEL_WINE_DISPLAY})
set_tests_properties(wine_up PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${VARDEL_WINE_ENV}"
                                        TIMEOUT 300 LABELS wine)
set_tests_properties(wine_down PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${VARDEL_WINE_ENV}"
                                          LABELS wine)

# Runs test NAME in the tests' Wine prefix (after wine_up).
function(vardel_wine_test_properties name)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT ${VARDEL_WINE_ENV})
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED wine)
endfunction()

# The same for a test that shows windows: one at a time on the display.
function(vardel_wine_display_test_properties name)
  vardel_wine_test_properties(${name})
  set_property(TEST ${name} APPEND PROPERTY RESOURCE_LOCK wine_display)
endfunction()
