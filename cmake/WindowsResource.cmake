# tarvo_windows_resource(TARGET DESCRIPTION [ICON]): the program's version resource (the project's
# four version numbers) and, with ICON, the workbench's icon made from its SVG drawing.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
function(tarvo_windows_resource target description)
  cmake_parse_arguments(R "ICON" "" "" ${ARGN})
  set(tarvo_rc_name ${target})
  set(tarvo_rc_description ${description})
  string(REPLACE "." "," tarvo_rc_version_commas ${TARVO_VERSION})
  set(tarvo_rc_icon "")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_resource)
  if(R_ICON)
    find_program(TARVO_RSVG_CONVERT rsvg-convert REQUIRED)
    set(ico ${dir}/${target}.ico)
    add_custom_command(OUTPUT ${ico}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/svg-to-ico
              ${PROJECT_SOURCE_DIR}/packaging/tarvo-workbench.svg ${ico}
      DEPENDS ${PROJECT_SOURCE_DIR}/packaging/tarvo-workbench.svg ${PROJECT_SOURCE_DIR}/scripts/svg-to-ico
      COMMENT "Making the icon of ${target}")
    set(tarvo_rc_icon "1 ICON \"${target}.ico\"")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows-resource.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  if(R_ICON)
    set_source_files_properties(${dir}/${target}.rc PROPERTIES OBJECT_DEPENDS ${ico})
  endif()
endfunction()
