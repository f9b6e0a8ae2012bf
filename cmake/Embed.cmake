# rembiz_embed(OUTPUT BASE_DIR FILES...) writes a C++ source that holds each file's bytes,
# keyed by its path relative to BASE_DIR, and regenerates it when any file changes.
function(rembiz_embed output base_dir)
  set(files ${ARGN})
  # The file list travels in a file: a list on the command line would be split by the shell.
  set(list_file ${output}.files)
  file(WRITE ${list_file} "${files}")
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DBASE_DIR=${base_dir} -DLIST_FILE=${list_file}
            -P ${CMAKE_SOURCE_DIR}/cmake/EmbedFiles.cmake
    DEPENDS ${files} ${list_file} ${CMAKE_SOURCE_DIR}/cmake/EmbedFiles.cmake
    COMMENT "Embedding schema and message files"
    VERBATIM)
endfunction()
