# The Windows programs' version resource and manifest identity, from the one
# version (project(... VERSION ...)): the four-number fields of VERSIONINFO
# and the manifests' assemblyIdentity from PROJECT_VERSION, the version texts
# from VARDEL_VERSION_TEXT (cmake/Version.cmake), for the target's processor.
string(REPLACE "." "," VARDEL_VERSION_COMMAS "${PROJECT_VERSION}.0")
set(VARDEL_VERSION_QUAD "${PROJECT_VERSION}.0")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VARDEL_MANIFEST_ARCHITECTURE x86)
else()
  set(VARDEL_MANIFEST_ARCHITECTURE amd64)
endif()
set(VARDEL_PRODUCT_NAME "Vardel - Contrôle des lecteurs")
# The resource scripts are UTF-8: windres reads them in the ANSI code page
# otherwise, and "ô" comes out as two letters.
string(APPEND CMAKE_RC_FLAGS " --codepage=65001")

# vardel_version_resource(TARGET NAME DESCRIPTION)
# Writes version.rc (VERSIONINFO of NAME.exe, described as DESCRIPTION) into
# TARGET's resources folder (${CMAKE_CURRENT_BINARY_DIR}/resources), for its
# resource script to #include.
function(vardel_version_resource target name description)
  set(VARDEL_RC_NAME "${name}")
  set(VARDEL_RC_DESCRIPTION "${description}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/resources/version.rc @ONLY)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/resources)
endfunction()
