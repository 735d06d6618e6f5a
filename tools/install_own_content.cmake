# Puts the content we write ourselves (content/ in the source tree) into the
# engine's content folder, every build:
#   cmake -DSOURCE=SOURCE_CONTENT -DTARGET=CONTENT_FOLDER -P install_own_content.cmake
# A file is copied only when the folder lacks it or holds other bytes, so an
# unchanged file keeps its time. The engine runs in that folder and `save`
# writes demos\demo001.dem there: a shipped demo that a run replaced or
# deleted is put back here, with a line saying so. Files the folder holds
# beside ours (the user's own demos, the worlds) are left alone.
cmake_minimum_required(VERSION 3.21)

if(NOT SOURCE OR NOT TARGET)
  message(FATAL_ERROR "usage: cmake -DSOURCE=DIR -DTARGET=DIR -P install_own_content.cmake")
endif()
if(NOT IS_DIRECTORY "${SOURCE}")
  message(FATAL_ERROR "install_own_content: no folder ${SOURCE}")
endif()

# A first install puts everything in place without a word.
set(fresh TRUE)
if(IS_DIRECTORY "${TARGET}/demos")
  set(fresh FALSE)
endif()

file(GLOB_RECURSE files RELATIVE "${SOURCE}" "${SOURCE}/*")
list(SORT files)
foreach(relative IN LISTS files)
  set(from "${SOURCE}/${relative}")
  set(to "${TARGET}/${relative}")
  if(EXISTS "${to}" AND NOT IS_DIRECTORY "${to}")
    file(SHA256 "${from}" wanted)
    file(SHA256 "${to}" present)
    if(wanted STREQUAL present)
      continue()
    endif()
    set(why "changed by a run")
  else()
    set(why "missing")
  endif()
  if(IS_DIRECTORY "${to}")
    file(REMOVE_RECURSE "${to}")
  endif()
  get_filename_component(folder "${to}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  file(COPY_FILE "${from}" "${to}")
  if(NOT fresh AND relative MATCHES "^demos/")
    message(STATUS "content: ${relative} was ${why}; the shipped demo is back in ${TARGET}")
  endif()
endforeach()
