add_custom_target(qm_assets ALL)

# Files of the program's folder that the program reads (pictures, models, the runtime library): an
# install lays out the same set beside the installed programs (packaging/CMakeLists.txt).
function(qm_asset_outputs)
    set_property(GLOBAL APPEND PROPERTY QM_ASSET_FILES ${ARGN})
endfunction()

# Places a file from outside the build (cache or source tree) into the program's folder at build time.
function(qm_copy_asset source)
    get_filename_component(name ${source} NAME)
    if(ARGC GREATER 1)
        set(name ${ARGV1})
    endif()
    add_custom_command(OUTPUT ${QM_BIN_DIR}/${name}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QM_BIN_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${QM_BIN_DIR}/${name}
        DEPENDS ${source} VERBATIM)
    qm_asset_outputs(${QM_BIN_DIR}/${name})
    string(MAKE_C_IDENTIFIER ${name} id)
    add_custom_target(qm_asset_${id} DEPENDS ${QM_BIN_DIR}/${name})
    add_dependencies(qm_assets qm_asset_${id})
endfunction()

qm_copy_asset(${QM_ORT_LIBRARY} libonnxruntime.so)
