# Places a file from outside the build (cache or source tree) into the program's folder at build time.
add_custom_target(qm_assets ALL)
function(qm_copy_asset source)
    get_filename_component(name ${source} NAME)
    if(ARGC GREATER 1)
        set(name ${ARGV1})
    endif()
    add_custom_command(OUTPUT ${QM_BIN_DIR}/${name}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QM_BIN_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${QM_BIN_DIR}/${name}
        DEPENDS ${source} VERBATIM)
    string(MAKE_C_IDENTIFIER ${name} id)
    add_custom_target(qm_asset_${id} DEPENDS ${QM_BIN_DIR}/${name})
    add_dependencies(qm_assets qm_asset_${id})
endfunction()

qm_copy_asset(${QM_ORT_LIBRARY} libonnxruntime.so)
