# The update dialog's pictures: SVG sources in src/resources/update, rendered to PNG at build time
# and compiled into this library (UpdateResources::init() registers them).
find_program(VEXA_RSVG_CONVERT rsvg-convert REQUIRED)
set(update_picture_sources ${CMAKE_SOURCE_DIR}/src/resources/update)
set(update_picture_dir ${CMAKE_CURRENT_BINARY_DIR}/update_pictures)
file(MAKE_DIRECTORY ${update_picture_dir})
set(update_pictures background close_normal close_hover close_press cancel_normal cancel_hover cancel_press
  uninstall_normal uninstall_hover uninstall_press logo icon)
foreach(picture ${update_pictures})
  add_custom_command(OUTPUT ${update_picture_dir}/${picture}.png
    COMMAND ${VEXA_RSVG_CONVERT} --output ${update_picture_dir}/${picture}.png ${update_picture_sources}/${picture}.svg
    DEPENDS ${update_picture_sources}/${picture}.svg
    COMMENT "Rendering the update picture ${picture}.png"
    VERBATIM)
endforeach()
# The list sits beside the rendered files, where its relative names point; rcc runs again when a
# picture changes because Qt's rule reads the list and depends on every file in it.
configure_file(${update_picture_sources}/update_pictures.qrc ${update_picture_dir}/update_pictures.qrc COPYONLY)
qt5_add_resources(update_picture_code ${update_picture_dir}/update_pictures.qrc)
set_source_files_properties(${update_picture_code} PROPERTIES SKIP_AUTOGEN ON)
target_sources(vexa_update PRIVATE update_resources.h update_resources.cpp ${update_picture_code})
