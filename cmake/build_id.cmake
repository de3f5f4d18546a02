# The build id (NB_BUILD_ID): the release version and the commit the tree was built from,
#   1.1.0.0+g0123456789         a clean checkout of commit 0123456789...
#   1.1.0.0+g0123456789+dirty   a tracked file differed from that commit
#   1.1.0.0                     not a git checkout (or git cannot read it)
# It comes from the tree, never from the clock: two builds of one commit carry one id. It is
# written into the version records' PrivateBuild (both exes), the log's start line, nbctl
# --version and status, and the release zip's name; an installer built from this tree takes
# it from here too. CMake runs again when the commit, the index or a tracked file changes,
# so the id follows the tree without a manual configure.
set(NB_BUILD_ID ${PROJECT_VERSION})
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} rev-parse --short=10 HEAD
                OUTPUT_VARIABLE nb_commit OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE nb_rc ERROR_QUIET)
if(nb_rc EQUAL 0 AND nb_commit MATCHES "^[0-9a-f]+$")
    string(APPEND NB_BUILD_ID "+g${nb_commit}")
    execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE nb_changes RESULT_VARIABLE nb_rc ERROR_QUIET)
    if(NOT nb_rc EQUAL 0 OR NOT nb_changes STREQUAL "")
        string(APPEND NB_BUILD_ID "+dirty")
    endif()
    execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} rev-parse --path-format=absolute
                            --git-path HEAD --git-path index
                    OUTPUT_VARIABLE nb_git_files RESULT_VARIABLE nb_rc ERROR_QUIET)
    execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} -c core.quotePath=false ls-files
                    OUTPUT_VARIABLE nb_tracked ERROR_QUIET)
    string(REPLACE "\n" ";" nb_git_files "${nb_git_files}")
    string(REPLACE "\n" ";" nb_tracked "${nb_tracked}")
    list(TRANSFORM nb_tracked PREPEND ${PROJECT_SOURCE_DIR}/)
    foreach(nb_file ${nb_git_files} ${nb_tracked})
        if(EXISTS ${nb_file} AND NOT IS_DIRECTORY ${nb_file})
            set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${nb_file})
        endif()
    endforeach()
else()
    message(STATUS "nbmonitor: no git commit found; the build id is ${NB_BUILD_ID} alone")
endif()
message(STATUS "nbmonitor: build id ${NB_BUILD_ID}")

# The version header the programs and the resource scripts include, rewritten only when a
# value changes (the build id by a commit, the others by a new version).
string(REPLACE "." "," NB_VERSION_NUMBERS "${NB_NUMERIC_VERSION}")
set(NB_VERSION_DIR ${CMAKE_BINARY_DIR}/version)
file(CONFIGURE OUTPUT ${NB_VERSION_DIR}/nbmonitor_version.h CONTENT
     "#define NB_VERSION_TEXT \"${PROJECT_VERSION}\"\n#define NB_VERSION_NUMBERS ${NB_VERSION_NUMBERS}\n#define NB_BUILD_ID \"${NB_BUILD_ID}\"\n")
