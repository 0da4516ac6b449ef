# The Windows zip and installer (NSIS), made by `cpack` in the build folder: the five programs and
# the window module in bin/, the README and the docs, and an example of the scheduled tasks: the
# daily report and the overview page after it.

# The programs and the module install where their own folders' rules put them (bin/, see
# RAVEL_INSTALL_MODULEDIR); the rest lies beside them here.
install(FILES README.md DESTINATION .)
install(FILES
  docs/architecture.md
  docs/operations.md
  docs/performance.md
  docs/reliability.md
  docs/ravelbook-window.png
  docs/ravelbook-window-windows.png
  docs/dashboard.png
  docs/overview.png
  DESTINATION docs)
install(FILES dist/windows/schedule-daily.cmd DESTINATION .)

set(CPACK_GENERATOR ZIP NSIS)
# One zip and one installer with everything, whatever components the install rules name.
set(CPACK_MONOLITHIC_INSTALL ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME Ravel)
set(CPACK_PACKAGE_VENDOR Ravel)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Backup Report from a backup server's job history")
set(CPACK_PACKAGE_FILE_NAME ravel-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY Ravel)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_DISPLAY_NAME "Ravel ${PROJECT_VERSION}")
set(CPACK_NSIS_PACKAGE_NAME "Ravel ${PROJECT_VERSION}")
# A 64-bit installer, as the programs are: NSIS's default stub is 32-bit.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
# Nothing to agree to: the installer opens on where to install.
set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
# A Start menu entry for the report console's window, on the site folder that the scheduled-task
# example uses. (Four backslashes make one: CPack reads these settings back as CMake code.)
set(CPACK_NSIS_CREATE_ICONS_EXTRA
    "CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\Ravel report console.lnk' '$INSTDIR\\\\bin\\\\ravelbook.exe' '--window --folder C:\\\\Ravel\\\\site'")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\Ravel report console.lnk'")
# The site folder itself, so that the entry and the task find it; an uninstall leaves it, with
# the site's listing, marker and reports, where it is. It is given to the user who installs, who
# also creates the task and opens the console: made by an installer run as administrator, it
# would belong to Administrators, and runs without elevation would refuse it as another's.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "CreateDirectory 'C:\\\\Ravel\\\\site'
  ExecWait 'icacls C:\\\\Ravel\\\\site /setowner \\\"$%USERNAME%\\\"'")
include(CPack)
