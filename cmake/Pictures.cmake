# The window's pictures, drawn at build time from their SVG sources
# (src/window/pictures) by rsvg-convert (Debian package librsvg2-bin), a
# build tool: the programs carry the pictures drawn, and nothing reads SVG
# at run time.
find_program(VARDEL_RSVG_CONVERT rsvg-convert)
if(NOT VARDEL_RSVG_CONVERT)
  message(FATAL_ERROR "The window's pictures need rsvg-convert (Debian package librsvg2-bin)")
endif()
set(VARDEL_PICTURES_DIR ${PROJECT_SOURCE_DIR}/src/window/pictures)

# vardel_draw_picture(NAME SIZE OUTPUT): pictures/NAME.svg drawn SIZE x SIZE
# pixels into the PNG file OUTPUT, on a transparent background.
function(vardel_draw_picture name size output)
  get_filename_component(output_dir ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${output_dir}
    COMMAND ${VARDEL_RSVG_CONVERT} -w ${size} -h ${size} -o ${output} ${VARDEL_PICTURES_DIR}/${name}.svg
    DEPENDS ${VARDEL_PICTURES_DIR}/${name}.svg ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    COMMENT "Drawing the ${name} picture, ${size} x ${size}"
    VERBATIM)
endfunction()
