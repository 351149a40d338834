# The Windows installer, made by `cpack -G NSIS` in the Windows build from NSIS.template.in beside
# this file. Included from the top-level CMakeLists.txt before CPack, in the Windows build only.

# CPack takes a template named NSIS.template.in from the module path before its own.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

# Beside the program, the zip's LICENSE.txt (CR LF). The licence page wraps words itself: there
# each paragraph is one line.
set(CPACK_NSIS_LICENSE_TXT ${CMAKE_BINARY_DIR}/LICENSE.txt)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
string(REPLACE "\n\n" "\r" licence_page "${licence}")
string(REPLACE "\n" " " licence_page "${licence_page}")
string(REPLACE "\r" "\r\n\r\n" licence_page "${licence_page}")
file(WRITE ${CMAKE_BINARY_DIR}/installer/licence-page.txt "${licence_page}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_BINARY_DIR}/installer/licence-page.txt)
file(STRINGS ${CMAKE_SOURCE_DIR}/LICENSE CPACK_NSIS_LEGAL_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)

# The name users know the program by: the dialog's caption, the Start-menu shortcut.
set(CPACK_NSIS_DISPLAY_NAME "測定用ダイアログ")
set(CPACK_NSIS_PACKAGE_NAME "measure ${PROJECT_VERSION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY measure)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY measure)
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/res/measure.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/res/measure.ico)
set(CPACK_NSIS_COMPRESSOR lzma)

# The installer is measure-<version>-win32-setup.exe, apart from the zip's program.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake)
