# The Windows build: nbmonitor.exe (GUI, Unicode, no DLLs beyond the system's), the Win32
# half of the platform layer, the generated icons, and the tests that run under Wine.
enable_language(RC)
find_package(Python3 COMPONENTS Interpreter REQUIRED)

# Size: the program is a small resident tool, so every function and datum gets its own
# section and the linker drops what nothing references.
set(NB_WIN_COMPILE_OPTIONS -ffunction-sections -fdata-sections)
set(NB_WIN_DEFINITIONS UNICODE _UNICODE)
foreach(lib ${NB_LAYER_TARGETS})
    target_compile_options(${lib} PRIVATE ${NB_WIN_COMPILE_OPTIONS})
    target_compile_definitions(${lib} PUBLIC ${NB_WIN_DEFINITIONS})
endforeach()

# Reproducible: two builds of one commit, in any two folders, give the same bytes. The linker
# writes no time stamp into the PE header, and no source or build folder reaches a program
# (__FILE__, debug paths): every target made from here on, and the layers, made before.
set(NB_REPRODUCIBLE_OPTIONS -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:${NB_REPRODUCIBLE_OPTIONS}>")
foreach(lib ${NB_LAYER_TARGETS})
    target_compile_options(${lib} PRIVATE ${NB_REPRODUCIBLE_OPTIONS})
endforeach()
add_link_options(-Wl,--no-insert-timestamp)

# The Win32 platform, as the program ships it (nbwin32), and the same sources with the test
# hooks compiled in (nbwin32_testhooks, NB_TEST_HOOKS): only the Wine tests and the test copy
# of the program below link that one, so no switch of the tests can reach a user's machine.
file(GLOB NB_WIN32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/win32/*.cpp)
foreach(lib nbwin32 nbwin32_testhooks)
    add_library(${lib} STATIC ${NB_WIN32_SOURCES})
    target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(${lib} PRIVATE -Wall -Wextra ${NB_WIN_COMPILE_OPTIONS})
    target_compile_definitions(${lib} PUBLIC ${NB_WIN_DEFINITIONS})
    target_link_libraries(${lib} PUBLIC nbplatform comctl32 shell32 ws2_32 user32 gdi32 kernel32)
endforeach()
target_compile_definitions(nbwin32_testhooks PUBLIC NB_TEST_HOOKS=1)

# Icons are drawn by a script at build time; nothing binary lives in the repository.
set(NB_ICON_DIR ${CMAKE_CURRENT_BINARY_DIR}/icons)
set(NB_ICONS ${NB_ICON_DIR}/program.ico ${NB_ICON_DIR}/running.ico ${NB_ICON_DIR}/stopped.ico)
add_custom_command(
    OUTPUT ${NB_ICONS}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make_icons.py ${NB_ICON_DIR}
    DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_icons.py
    COMMENT "Drawing the tray icons"
    VERBATIM)
add_custom_target(nbicons DEPENDS ${NB_ICONS})

set(NB_RC ${PROJECT_SOURCE_DIR}/src/resources/nbmonitor.rc)
# The version record's values come from nbmonitor_version.h (cmake/build_id.cmake): the
# project's version (text fields), NB_NUMERIC_VERSION (numeric fields; see CMakeLists.txt for
# why they differ) and the build id (PrivateBuild).
set(NB_VERSION_HEADER ${NB_VERSION_DIR}/nbmonitor_version.h)
# windres looks for the files an .rc names (icons, manifest, version) in its include folders.
set(NB_RC_INCLUDES ${NB_ICON_DIR} ${PROJECT_SOURCE_DIR}/src/resources ${NB_VERSION_DIR})
set(NB_MANIFEST ${PROJECT_SOURCE_DIR}/src/resources/nbmonitor.exe.manifest)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # The 64-bit build, made only where Wine cannot run 32-bit code, must name its own
    # architecture, or the system refuses the manifest and the common controls 6 with it.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${NB_MANIFEST})
    file(READ ${NB_MANIFEST} NB_MANIFEST_TEXT)
    string(REPLACE "processorArchitecture=\"x86\"" "processorArchitecture=\"amd64\""
           NB_MANIFEST_TEXT "${NB_MANIFEST_TEXT}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/manifest/nbmonitor.exe.manifest "${NB_MANIFEST_TEXT}")
    set(NB_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/manifest/nbmonitor.exe.manifest)
    list(PREPEND NB_RC_INCLUDES ${CMAKE_CURRENT_BINARY_DIR}/manifest)
endif()
set_source_files_properties(${NB_RC} PROPERTIES
    OBJECT_DEPENDS "${NB_ICONS};${PROJECT_SOURCE_DIR}/src/resources/resource.h;${NB_MANIFEST};${NB_VERSION_HEADER}")

# Every system DLL but kernel32 and the C runtime is delay-loaded: the loader then maps none of
# them before the program has restricted the DLL search to the system folder (entry.cpp), so
# a DLL planted in the program's own folder (uxtheme.dll, dwmapi.dll, ...) that one of them
# would load by name is never found there. nb_delay_imports(TARGET DLL...) makes the
# delay-import libraries from the toolchain's import libraries and links them ahead of them.
find_program(NB_DLLTOOL ${NB_MINGW_PREFIX}-dlltool REQUIRED)
find_program(NB_NM ${NB_MINGW_PREFIX}-nm REQUIRED)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(NB_DLLTOOL_MACHINE i386:x86-64)
else()
    set(NB_DLLTOOL_MACHINE i386)
endif()
function(nb_delay_imports target)
    foreach(dll ${ARGN})
        set(lib ${CMAKE_BINARY_DIR}/delayimp/lib${dll}_delay.a)
        if(NOT TARGET nb_delay_${dll})
            add_custom_command(
                OUTPUT ${lib}
                COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayimp
                COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/delay_import.py ${NB_NM}
                        ${NB_DLLTOOL} ${NB_DLLTOOL_MACHINE} ${CMAKE_FIND_ROOT_PATH}/lib/lib${dll}.a
                        ${dll}.dll ${lib}
                DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay_import.py
                COMMENT "Delay-import library for ${dll}.dll"
                VERBATIM)
            add_custom_target(nb_delay_${dll} DEPENDS ${lib})
        endif()
        add_dependencies(${target} nb_delay_${dll})
        target_link_libraries(${target} PRIVATE ${lib})
    endforeach()
    target_link_libraries(${target} PRIVATE delayimp)
    if(NB_DLLTOOL_MACHINE STREQUAL i386)
        target_link_options(${target} PRIVATE -Wl,-T,${PROJECT_SOURCE_DIR}/cmake/delay_import.ld)
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/delay_import.ld)
    endif()
endfunction()
set(NB_DELAYED_DLLS comctl32 shell32 user32 ws2_32 gdi32)

# nbmonitor.exe as shipped, and testhooks/nbmonitor.exe (the same program with the test hooks,
# under the same file name, since the name is the program's title) for the fault tests.
add_executable(nbmonitor WIN32 ${PROJECT_SOURCE_DIR}/src/app/entry.cpp ${NB_RC})
target_link_libraries(nbmonitor PRIVATE nbapp nbwin32)
add_executable(nbmonitor_testhooks WIN32 ${PROJECT_SOURCE_DIR}/src/app/entry.cpp ${NB_RC})
target_link_libraries(nbmonitor_testhooks PRIVATE nbapp nbwin32_testhooks)
nb_delay_imports(nbmonitor ${NB_DELAYED_DLLS})
nb_delay_imports(nbmonitor_testhooks ${NB_DELAYED_DLLS})
set_target_properties(nbmonitor_testhooks PROPERTIES OUTPUT_NAME nbmonitor
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testhooks)
foreach(exe nbmonitor nbmonitor_testhooks)
    add_dependencies(${exe} nbicons)
    target_include_directories(${exe} PRIVATE ${NB_RC_INCLUDES})
    target_compile_options(${exe} PRIVATE -Wall -Wextra ${NB_WIN_COMPILE_OPTIONS})
    # Static runtime: the exe must start on a bare Windows with nothing but system DLLs.
    target_link_options(${exe} PRIVATE -municode -static -static-libgcc -static-libstdc++
                        -Wl,--gc-sections -s)
endforeach()

if(EXISTS ${PROJECT_SOURCE_DIR}/tools/CMakeLists.txt)
    add_subdirectory(tools)
endif()
add_subdirectory(tests/wine)
if(EXISTS ${PROJECT_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
    add_subdirectory(tests/e2e)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/bench/win/CMakeLists.txt)
    add_subdirectory(bench/win)
endif()

# The release zip (cmake --build <dir> --target package).
include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
