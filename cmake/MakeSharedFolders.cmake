# Run by `cmake --install` before anything is copied: makes every missing level of the folders
# named in TOLVANE_SHARED_FOLDERS (relative to the install prefix, below DESTDIR) with mode 0755.
# CMake applies the installing user's umask to the folders it makes itself, so after an install
# with umask 077 no other user could reach the programs. Folders that exist keep their modes.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
foreach(folder IN LISTS TOLVANE_SHARED_FOLDERS)
  if(IS_ABSOLUTE "${folder}")
    set(path "$ENV{DESTDIR}${folder}")
  else()
    set(path "${root}/${folder}")
  endif()
  get_filename_component(path "${path}" ABSOLUTE)
  string(REPLACE "/" ";" parts "${path}")
  set(level "")
  foreach(part IN LISTS parts)
    if(part STREQUAL "")
      continue()
    endif()
    string(APPEND level "/${part}")
    if(NOT EXISTS "${level}")
      file(MAKE_DIRECTORY "${level}")
      file(CHMOD "${level}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                                 GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()
endforeach()
