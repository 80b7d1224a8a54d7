# The Windows program: zelvorant.exe, a GUI-subsystem executable whose whole
# interface is its one dialog window. Included by the top-level CMakeLists for
# Windows builds only; the Win32 sources below are compiled nowhere else.

enable_language(RC)

add_executable(zelvorant WIN32
  app/main_win32.cpp
  app/main_window_win32.cpp
  app/floppy_dialog_win32.cpp
  hybrid/dialog_helpers_win32.cpp
  hybrid/partition_dialog_win32.cpp
  hybrid/message_box_questions_win32.cpp
  scsi/device_dialog_win32.cpp
  res/zelvorant.rc
)
target_link_libraries(zelvorant PRIVATE zelvorant_core comdlg32 gdi32 user32)
# The templates include the control-id headers by their paths in the tree.
set_property(SOURCE res/zelvorant.rc APPEND PROPERTY INCLUDE_DIRECTORIES ${CMAKE_SOURCE_DIR})
set_property(SOURCE res/zelvorant.rc APPEND PROPERTY OBJECT_DEPENDS
  ${CMAKE_SOURCE_DIR}/res/zelvorant.ico
  ${CMAKE_SOURCE_DIR}/app/main_window_ids.h
  ${CMAKE_SOURCE_DIR}/app/floppy_dialog_ids.h
  ${CMAKE_SOURCE_DIR}/app/program_icon_id.h
  ${CMAKE_SOURCE_DIR}/hybrid/partition_dialog_ids.h
  ${CMAKE_SOURCE_DIR}/scsi/device_dialog_ids.h)
# Next to zelvorant-cli.exe and dskgrab.exe, which it runs for floppies.
set_target_properties(zelvorant PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(zelvorant dskgrab)

# The request routines exported by name (_aspi_rw and the others); the
# top-level CMakeLists checks them with objdump.
zelvorant_add_exports(zelvorant)
