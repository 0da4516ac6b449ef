# What a Windows build adds: the application manifest in every program, and, when cross-built on
# Linux, wine to run the programs and the tests.

enable_language(RC)

# Windows looks for a program's DLLs beside it: the window module is installed there too.
set(RAVEL_INSTALL_MODULEDIR ${CMAKE_INSTALL_BINDIR})

# The manifest makes UTF-8 the process's code page, so arguments reach main in UTF-8 and a path in
# any script works; and it gives the console window the current common controls. Every program
# takes it through ravel_options, which all of them link.
configure_file(${PROJECT_SOURCE_DIR}/dist/windows/ravel.manifest.in
               ${CMAKE_BINARY_DIR}/ravel.manifest @ONLY)
file(SHA256 ${CMAKE_BINARY_DIR}/ravel.manifest manifest_hash)
configure_file(${PROJECT_SOURCE_DIR}/dist/windows/ravel.rc.in ${CMAKE_BINARY_DIR}/ravel.rc @ONLY)
target_sources(ravel_options INTERFACE
  $<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:${CMAKE_BINARY_DIR}/ravel.rc>)

# The system's calls and resources by their UTF-16 names, as our calls name them.
target_compile_definitions(ravel_options INTERFACE UNICODE _UNICODE)
# The platform layer opens, renames and links the files of a folder relative to the folder's
# handle, which only the native calls of ntdll offer.
target_link_libraries(ravel_options INTERFACE ntdll)

if(CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX)
  # Test discovery and the tests run the programs under wine, in a wine prefix of this build
  # folder; tools/test-windows.sh keeps one wine server up for the whole run.
  set(RAVEL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  # Wine shows the host's files on drive Z:; the tests name built programs by such paths.
  set(RAVEL_HOST_DRIVE "Z:")
endif()
