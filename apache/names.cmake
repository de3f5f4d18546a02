# Loaded by the Apache build (scripts/apache) through CMAKE_USER_MAKE_RULES_OVERRIDE, after
# CMake's MinGW platform rules: DLLs keep the names their projects give them (libapr-1.dll,
# not liblibapr-1.dll), as in the projects' own Windows builds.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")
