# The release zip, as an integrator puts it into an installation (included by windows.cmake):
#   cmake --build <build> --target package
# makes <build>/nbmonitor-<build id>-win32.zip (win64 for the x86_64 build; the build id,
# 1.1.0.0+g<commit>[+dirty], comes from cmake/build_id.cmake),
# <build>/nbmonitor-<build id>-win32-setup.exe, the example installer of packaging/installer
# made from the zip's files (cmake/package-steps.cmake), and <build>/SHA256SUMS; the zip holds
#   bin/nbmonitor.exe, bin/nbctl.exe
#   bin/nbbackup.bat.example, bin/nbrestore.bat.example   the demo installation's scripts
#   conf/nbmonitor.ini.example                             every setting, with its default
#   docs/integrating.md, README.md
# cmake/package-steps.cmake signs the exes in the zip when NB_SIGN_PFX or NB_SIGN_PKCS11_MODULE
# names a key (scripts/sign),
# and fixes every entry's time, order and attributes, so that one commit gives one zip.
# Needs CMake 3.19 (CPack's pre- and post-build scripts).

# The scripts and the settings example go out with CR LF line ends, as cmd and Notepad
# expect them; the sources keep LF.
set(NB_PACKAGE_TEXT_DIR ${CMAKE_BINARY_DIR}/package-text)
function(nb_package_crlf source output)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    set(old "")
    if(EXISTS ${output})
        file(READ ${output} old)
    endif()
    if(NOT old STREQUAL text)
        file(WRITE ${output} "${text}")
    endif()
endfunction()
nb_package_crlf(${PROJECT_SOURCE_DIR}/tools/demo/nbbackup.bat ${NB_PACKAGE_TEXT_DIR}/nbbackup.bat.example)
nb_package_crlf(${PROJECT_SOURCE_DIR}/tools/demo/nbrestore.bat ${NB_PACKAGE_TEXT_DIR}/nbrestore.bat.example)
nb_package_crlf(${PROJECT_SOURCE_DIR}/packaging/nbmonitor.ini.example
                ${NB_PACKAGE_TEXT_DIR}/nbmonitor.ini.example)

# Only the component "release" goes into the zip: nothing else of the build (the stand-in
# server, test helpers, testhooks/) has an install rule in it.
install(TARGETS nbmonitor nbctl RUNTIME DESTINATION bin COMPONENT release)
install(FILES ${NB_PACKAGE_TEXT_DIR}/nbbackup.bat.example ${NB_PACKAGE_TEXT_DIR}/nbrestore.bat.example
        DESTINATION bin COMPONENT release)
install(FILES ${NB_PACKAGE_TEXT_DIR}/nbmonitor.ini.example DESTINATION conf COMPONENT release)
install(FILES ${PROJECT_SOURCE_DIR}/docs/integrating.md DESTINATION docs COMPONENT release)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT release)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME nbmonitor)
set(CPACK_PACKAGE_VENDOR "Nimbara Project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
else()
    set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${NB_BUILD_ID}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};nbmonitor;release;/")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-steps.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-steps.cmake)
# Read by package-steps.cmake (CPack hands every CPACK_ variable to its scripts): the
# installer's architecture is the programs', its version the project's (four numbers, as
# the version record wants them), and its build id NB_BUILD_ID when that is set.
set(CPACK_NB_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_NB_VERSION ${PROJECT_VERSION})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_NB_NSIS_TARGET amd64-unicode)
else()
    set(CPACK_NB_NSIS_TARGET x86-unicode)
endif()
if(DEFINED NB_BUILD_ID)
    set(CPACK_NB_BUILD_ID ${NB_BUILD_ID})
endif()
include(CPack)
