# phenomd_add_module(<name> ENTRY <target> [HEADER <file>]
#                    [VERSION_SCRIPT <file>] [EXPORT <export set>])
#
# One shared module of the project (libphenomd.so, libphenomd_fast.so,
# libphenomd_population.so): a shared library made of the object library
# ENTRY (which brings the model's objects with it), versioned with the
# project, with hidden visibility so that only the C names the entry marks
# for export reach the dynamic table, and installed to the library
# directory.  HEADER is installed with it; VERSION_SCRIPT further limits the
# dynamic table; EXPORT adds the target to an export set for
# find_package(phenomd).  Alias: phenomd::<name>.
include_guard(GLOBAL)
include(GNUInstallDirs)

function(phenomd_add_module name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "ENTRY;HEADER;VERSION_SCRIPT;EXPORT" "")
  if(NOT ARG_ENTRY)
    message(FATAL_ERROR "phenomd_add_module(${name}): ENTRY is required")
  endif()
  add_library(${name} SHARED)
  add_library(phenomd::${name} ALIAS ${name})
  target_link_libraries(${name} PRIVATE ${ARG_ENTRY})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINKER_LANGUAGE CXX)
  # Keep GSL's symbols (statically linked or not) out of the dynamic table.
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  if(ARG_HEADER)
    set_target_properties(${name} PROPERTIES PUBLIC_HEADER ${ARG_HEADER})
  endif()
  if(ARG_VERSION_SCRIPT)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${ARG_VERSION_SCRIPT})
    target_link_options(${name} PRIVATE -Wl,--version-script=${ARG_VERSION_SCRIPT})
  endif()
  set(export_set)
  if(ARG_EXPORT)
    set(export_set EXPORT ${ARG_EXPORT})
  endif()
  install(TARGETS ${name} ${export_set}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endfunction()
