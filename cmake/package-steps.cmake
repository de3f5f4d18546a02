# CPack runs this script twice while it makes the release zip (cmake/package.cmake):
#   before the zip, on the files staged for it: signs bin/nbmonitor.exe and bin/nbctl.exe with
#     scripts/sign when NB_SIGN_PFX or NB_SIGN_PKCS11_MODULE is set (its key; a timestamp from
#     NB_SIGN_TIMESTAMP_URL, or none when NB_SIGN_NO_TIMESTAMP is set; the build's own exes
#     stay unsigned), and sets
#     SOURCE_DATE_EPOCH for CPack, which then gives every entry that time;
#   after the zip (CPACK_PACKAGE_FILES is set then): normalizes the zip, makes the example
#     installer from its files and writes SHA256SUMS (the zip's hash only).
# CPack's ZIP generator still stores the entries in the order the staging folder's file
# system lists them, their owner's uid and gid, and their time as local time of the time
# zone: strip-nondeterminism (Debian's tool for reproducible builds) sorts the entries, clears
# the owner and writes the times in UTC, so that every machine makes the same bytes.
# The time: SOURCE_DATE_EPOCH when it is set, else the time of the source tree's last commit.

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    set(nb_epoch $ENV{SOURCE_DATE_EPOCH})
else()
    execute_process(COMMAND git -C ${CPACK_NB_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE nb_epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE nb_rc ERROR_QUIET)
    if(NOT nb_rc EQUAL 0 OR NOT nb_epoch MATCHES "^[0-9]+$")
        # Not a git checkout: 1980-01-01, the earliest time a zip entry can carry.
        set(nb_epoch 315532800)
    endif()
endif()

if(NOT CPACK_PACKAGE_FILES)
    set(nb_stage ${CPACK_TEMPORARY_DIRECTORY})
    if("$ENV{NB_SIGN_PFX}$ENV{NB_SIGN_PKCS11_MODULE}" STREQUAL "")
        message(STATUS "nbmonitor: this release is UNSIGNED (neither NB_SIGN_PFX nor NB_SIGN_PKCS11_MODULE is set)")
    else()
        # scripts/sign reads the key, NB_SIGN_TIMESTAMP_URL and NB_SIGN_NO_TIMESTAMP itself.
        execute_process(COMMAND ${CPACK_NB_SOURCE_DIR}/scripts/sign
                                ${nb_stage}/bin/nbmonitor.exe ${nb_stage}/bin/nbctl.exe
                        RESULT_VARIABLE nb_rc)
        if(NOT nb_rc EQUAL 0)
            message(FATAL_ERROR "nbmonitor: signing failed (scripts/sign: ${nb_rc}); no zip made")
        endif()
        message(STATUS "nbmonitor: bin/nbmonitor.exe and bin/nbctl.exe signed with $ENV{NB_SIGN_PFX}$ENV{NB_SIGN_KEY}")
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${nb_epoch})
    return()
endif()

foreach(nb_zip ${CPACK_PACKAGE_FILES})
    execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC
                            strip-nondeterminism --type zip --timestamp ${nb_epoch} ${nb_zip}
                    RESULT_VARIABLE nb_rc)
    if(NOT nb_rc EQUAL 0)
        message(WARNING "nbmonitor: ${nb_zip} is not normalized (strip-nondeterminism: ${nb_rc}; "
                        "scripts/setup installs it): its order, owner and local times depend on the machine")
    endif()
endforeach()
# The example installer (packaging/installer), made from the zip's own files, so that the two
# never differ: <zip name>-setup.exe beside the zip, signed with the exes when NB_SIGN_PFX is
# set (the uninstaller inside it too). makensis stores no time and no path of this machine
# (the script turns off file times), so it is as reproducible as the zip.
find_program(nb_makensis makensis)
if(NOT nb_makensis)
    message(FATAL_ERROR "nbmonitor: makensis is not installed (scripts/setup installs Debian's nsis); no installer made")
endif()
foreach(nb_zip ${CPACK_PACKAGE_FILES})
    get_filename_component(nb_base ${nb_zip} NAME_WLE)
    set(nb_files ${CPACK_PACKAGE_DIRECTORY}/installer-files)
    file(REMOVE_RECURSE ${nb_files})
    file(MAKE_DIRECTORY ${nb_files})
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${nb_zip} WORKING_DIRECTORY ${nb_files}
                    RESULT_VARIABLE nb_rc)
    set(nb_args -V2 -WX -DNB_FILES=${nb_files} -DNB_VERSION=${CPACK_NB_VERSION}
                -DNB_TARGET=${CPACK_NB_NSIS_TARGET} -DNB_OUTFILE=${CPACK_PACKAGE_DIRECTORY}/${nb_base}-setup.exe)
    if(CPACK_NB_BUILD_ID)
        list(APPEND nb_args -DNB_BUILD_ID=${CPACK_NB_BUILD_ID})
    endif()
    if(DEFINED ENV{NB_SIGN_PFX} AND NOT "$ENV{NB_SIGN_PFX}" STREQUAL "")
        list(APPEND nb_args -DNB_SIGN=${CPACK_NB_SOURCE_DIR}/scripts/sign)
    endif()
    if(nb_rc EQUAL 0)
        execute_process(COMMAND ${nb_makensis} ${nb_args} ${CPACK_NB_SOURCE_DIR}/packaging/installer/nbmonitor.nsi
                        RESULT_VARIABLE nb_rc)
    endif()
    if(NOT nb_rc EQUAL 0)
        message(FATAL_ERROR "nbmonitor: the installer of ${nb_zip} was not made (makensis: ${nb_rc})")
    endif()
endforeach()

set(nb_sums "")
foreach(nb_zip ${CPACK_PACKAGE_FILES})
    file(SHA256 ${nb_zip} nb_hash)
    get_filename_component(nb_name ${nb_zip} NAME)
    string(APPEND nb_sums "${nb_hash}  ${nb_name}\n")
endforeach()
file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${nb_sums}")
message(STATUS "nbmonitor: ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS written (time ${nb_epoch})")
