# cmake -DBUILD_DIR=<dir> -DNAME=<name> -DEPOCH=<seconds> -DZIP=<zip> -P MakeZip.cmake
#
# Installs the program and the virtual adapter into <dir>/package/<name> and
# packs that folder into <dir>/<name>.zip, the same bytes from every build of
# the same commit. cpack's zips are not: they carry the builder's uid and gid
# and list the files in directory order. Info-ZIP's -X leaves out uid, gid
# and the extra time fields, -D the folder entries; what it still takes from
# the disk is fixed here: the file list is sorted, every file's time is the
# build's time stamp (read in UTC: zip stores local DOS times), and install()
# gives every file fixed permissions.
set(stage ${BUILD_DIR}/package)
set(archive ${BUILD_DIR}/${NAME}.zip)
file(REMOVE_RECURSE ${stage})
file(REMOVE ${archive})

foreach(component program virtual_adapter)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage}/${NAME}
            --component ${component}
        OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endforeach()

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
list(SORT files)
execute_process(COMMAND touch --no-dereference --date=@${EPOCH} ${files}
    WORKING_DIRECTORY ${stage} COMMAND_ERROR_IS_FATAL ANY)
list(JOIN files "\n" listing)
file(WRITE ${BUILD_DIR}/package-files.txt "${listing}\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=ZIPOPT TZ=UTC
        ${ZIP} -X -D -q -9 -@ ${archive}
    WORKING_DIRECTORY ${stage}
    INPUT_FILE ${BUILD_DIR}/package-files.txt
    COMMAND_ERROR_IS_FATAL ANY)
