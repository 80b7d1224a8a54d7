# The request routines a Windows program exports by name and ordinal.
#
#   zelvorant_add_exports(<target>)
#     compiles the C wrappers into <target> and links it with app/zelvorant.def.
#     Only the GUI program calls it: the exports belong to zelvorant.exe.
#
#   zelvorant_add_export_test(<target>)
#     a test that reads <target>'s export table with objdump and checks the
#     eight names at ordinals 2 to 9.
set(ZELVORANT_EXPORTS_DEF ${CMAKE_CURRENT_LIST_DIR}/../app/zelvorant.def)
set(ZELVORANT_EXPORTS_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../app/aspi_exports_win32.cpp)
set(ZELVORANT_EXPORTS_CHECK ${CMAKE_CURRENT_LIST_DIR}/../tests/exports/check_exports.sh)

function(zelvorant_add_exports target)
  target_sources(${target} PRIVATE ${ZELVORANT_EXPORTS_SOURCE})
  target_link_libraries(${target} PRIVATE zelvorant_scsi)
  # GCC hands a .def file on the link line to the linker as the module's
  # export list; nothing else is exported.
  target_link_options(${target} PRIVATE ${ZELVORANT_EXPORTS_DEF})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ZELVORANT_EXPORTS_DEF})
endfunction()

function(zelvorant_add_export_test target)
  if(NOT ZELVORANT_OBJDUMP)
    find_program(ZELVORANT_OBJDUMP NAMES i686-w64-mingw32-objdump)
  endif()
  if(NOT ZELVORANT_OBJDUMP)
    message(WARNING "i686-w64-mingw32-objdump not found: the exports of ${target} are not checked")
    return()
  endif()
  add_test(NAME exports_${target}
           COMMAND bash ${ZELVORANT_EXPORTS_CHECK} ${ZELVORANT_OBJDUMP} $<TARGET_FILE:${target}>)
endfunction()
