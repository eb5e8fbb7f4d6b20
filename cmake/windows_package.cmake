# The Windows packages, built with the program into the build folder:
#   Tavren3-<version>-win64.zip        the program, its console companion
#                                      (Tavren3.com), its help page and readme
#   Tavren3-<version>-setup.exe        the same files as a per-user installer
#                                      (when makensis, Debian's nsis, is there)
# Both take the program's file name from the build.
set(TAVREN_PACKAGE_NAME Tavren3-${PROJECT_VERSION}-win64)
set(TAVREN_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package/${TAVREN_PACKAGE_NAME})
set(TAVREN_PACKAGE_ZIP ${CMAKE_BINARY_DIR}/${TAVREN_PACKAGE_NAME}.zip)
set(TAVREN_PACKAGE_SETUP ${CMAKE_BINARY_DIR}/Tavren3-${PROJECT_VERSION}-setup.exe)
set(_readme ${PROJECT_SOURCE_DIR}/res/win32/readme-ja.txt)
set(_help ${PROJECT_SOURCE_DIR}/res/help/index.html)
set(_nsi ${PROJECT_SOURCE_DIR}/res/win32/installer.nsi)

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# The folder is made afresh each time, so a file of an older build (a program
# since renamed, say) never reaches the packages.
add_custom_command(
    OUTPUT ${TAVREN_PACKAGE_ZIP}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${TAVREN_PACKAGE_FILES} ${TAVREN_PACKAGE_ZIP}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVREN_PACKAGE_FILES}/help
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tavren3> $<TARGET_FILE:tavren3_console>
            ${_readme} ${TAVREN_PACKAGE_FILES}
    COMMAND ${CMAKE_COMMAND} -E copy ${_help} ${TAVREN_PACKAGE_FILES}/help
    COMMAND ${CMAKE_COMMAND} -E tar cf ${TAVREN_PACKAGE_ZIP} --format=zip ${TAVREN_PACKAGE_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/package
    DEPENDS tavren3 tavren3_console ${_readme} ${_help}
    COMMENT "Packing ${TAVREN_PACKAGE_NAME}.zip"
    VERBATIM)
set(_packages ${TAVREN_PACKAGE_ZIP})

find_program(TAVREN_MAKENSIS makensis)
if(TAVREN_MAKENSIS)
    add_custom_command(
        OUTPUT ${TAVREN_PACKAGE_SETUP}
        COMMAND ${TAVREN_MAKENSIS} -V2 -DFILES=${TAVREN_PACKAGE_FILES}
                -DPROGRAM_NAME=$<TARGET_FILE_NAME:tavren3>
                -DCONSOLE_NAME=$<TARGET_FILE_NAME:tavren3_console> -DVERSION=${PROJECT_VERSION}
                -DOUTFILE=${TAVREN_PACKAGE_SETUP} ${_nsi}
        # The zip's rule fills the folder the installer takes its files from.
        DEPENDS ${TAVREN_PACKAGE_ZIP} ${_nsi}
        COMMENT "Building the installer Tavren3-${PROJECT_VERSION}-setup.exe"
        VERBATIM)
    list(APPEND _packages ${TAVREN_PACKAGE_SETUP})
    set_property(GLOBAL PROPERTY TAVREN_INSTALLER ${TAVREN_PACKAGE_SETUP})
else()
    message(STATUS "makensis not found (Debian package nsis): no installer")
endif()
add_custom_target(tavren_packages ALL DEPENDS ${_packages})
