# The version's texts. The one source is project(... VERSION ...); a build
# from a git checkout that is not at that version's tag (v<version>) says
# which commit it was made from: "0.2.0+g1a2b3c4" in texts, never in the
# four-number Windows fields (which use PROJECT_VERSION). VARDEL_VERSION_SUFFIX
# set by hand (even empty) overrides what git says.
#
# VARDEL_VERSION_OVERRIDE (three numbers) builds the same source as another
# version: the package tests make a higher version with it, to install over
# this one.
set(VARDEL_VERSION_OVERRIDE "" CACHE STRING "Build as this version instead of project()'s (package tests)")
if(VARDEL_VERSION_OVERRIDE)
  if(NOT VARDEL_VERSION_OVERRIDE MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "VARDEL_VERSION_OVERRIDE must be three numbers, not '${VARDEL_VERSION_OVERRIDE}'")
  endif()
  set(PROJECT_VERSION "${VARDEL_VERSION_OVERRIDE}")
  set(PROJECT_VERSION_MAJOR "${CMAKE_MATCH_1}")
  set(PROJECT_VERSION_MINOR "${CMAKE_MATCH_2}")
  set(PROJECT_VERSION_PATCH "${CMAKE_MATCH_3}")
endif()
if(NOT DEFINED VARDEL_VERSION_SUFFIX)
  set(_suffix "")
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
    execute_process(
      COMMAND "${GIT_EXECUTABLE}" describe --tags --exact-match --match "v${PROJECT_VERSION}" HEAD
      WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
      RESULT_VARIABLE _at_tag OUTPUT_QUIET ERROR_QUIET)
    if(NOT _at_tag EQUAL 0)
      execute_process(
        COMMAND "${GIT_EXECUTABLE}" rev-parse --short=7 HEAD
        WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
        RESULT_VARIABLE _rev_result OUTPUT_VARIABLE _rev
        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(_rev_result EQUAL 0 AND _rev)
        set(_suffix "+g${_rev}")
      endif()
    endif()
  endif()
  set(VARDEL_VERSION_SUFFIX "${_suffix}")
endif()
set(VARDEL_VERSION_TEXT "${PROJECT_VERSION}${VARDEL_VERSION_SUFFIX}")
# For the packaging scripts: the three numbers, then the text.
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/vardel-version.txt"
     CONTENT "${PROJECT_VERSION}\n${VARDEL_VERSION_TEXT}\n")
