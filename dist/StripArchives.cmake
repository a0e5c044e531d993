# Run by cpack once the packages' files are staged: static archives lose their debugging
# sections as Debian's dh_strip takes them (CPACK_STRIP_FILES strips programs and shared
# libraries only), deterministically, so that the same build packs the same bytes.
file(GLOB_RECURSE archives "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.a")
foreach(archive IN LISTS archives)
    execute_process(COMMAND ${CPACK_HUFPACK_STRIP} --strip-debug --remove-section=.comment
        --remove-section=.note --enable-deterministic-archives ${archive}
        COMMAND_ERROR_IS_FATAL ANY)
endforeach()
