# The Windows build: nbmonitor.exe (GUI, Unicode, no DLLs beyond the system's), the Win32
# half of the platform layer, the generated icons, and the tests that run under Wine.
enable_language(RC)
find_package(Python3 COMPONENTS Interpreter REQUIRED)

# Size: the program is a small resident tool, so every function and datum gets its own
# section and the linker drops what nothing references.
set(NB_WIN_COMPILE_OPTIONS -ffunction-sections -fdata-sections)
set(NB_WIN_DEFINITIONS UNICODE _UNICODE)
target_compile_options(nbcore PRIVATE ${NB_WIN_COMPILE_OPTIONS})
target_compile_definitions(nbcore PUBLIC ${NB_WIN_DEFINITIONS})

# The Win32 platform, shared by the program and by the Wine tests.
file(GLOB NB_WIN32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/win32/*.cpp)
add_library(nbwin32 STATIC ${NB_WIN32_SOURCES})
target_include_directories(nbwin32 PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(nbwin32 PRIVATE -Wall -Wextra ${NB_WIN_COMPILE_OPTIONS})
target_compile_definitions(nbwin32 PUBLIC ${NB_WIN_DEFINITIONS})
target_link_libraries(nbwin32 PUBLIC nbcore comctl32 shell32 ws2_32 user32 gdi32 kernel32)

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
# windres looks for the files an .rc names (icons, manifest) in its include folders.
set(NB_RC_INCLUDES ${NB_ICON_DIR} ${PROJECT_SOURCE_DIR}/src/resources)
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
    OBJECT_DEPENDS "${NB_ICONS};${PROJECT_SOURCE_DIR}/src/resources/resource.h;${NB_MANIFEST}")

add_executable(nbmonitor WIN32 ${PROJECT_SOURCE_DIR}/src/app/entry.cpp ${NB_RC})
add_dependencies(nbmonitor nbicons)
target_include_directories(nbmonitor PRIVATE ${NB_RC_INCLUDES})
target_compile_options(nbmonitor PRIVATE -Wall -Wextra ${NB_WIN_COMPILE_OPTIONS})
target_link_libraries(nbmonitor PRIVATE nbwin32)
# Static runtime: the exe must start on a bare Windows with nothing but system DLLs.
target_link_options(nbmonitor PRIVATE -municode -static -static-libgcc -static-libstdc++
                    -Wl,--gc-sections -s)

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
